// The official JavaScript client as an application uses it: default options, so it
// negotiates before it opens the WebSocket. Prints the same lines as ../DotnetClient:
//
//   node app-client.mjs <hub-url>
//
// "connected", "push <target> <argument>" for every push, "echo <result>" and
// "result <json>" for the two invocations, "ready" (then it waits for a push of Private),
// "stopped <state>". Gives up after 20 s with exit code 1.

import signalR from "@microsoft/signalr";

const say = (line) => process.stdout.write(line + "\n");
const connection = new signalR.HubConnectionBuilder()
    .withUrl(process.argv[2])
    .configureLogging(signalR.LogLevel.Warning)
    .build();
setTimeout(() => process.exit(1), 20000).unref();
const privateReceived = new Promise((resolve) => connection.on("Private", (text) => {
    say(`push Private ${text}`);
    resolve();
}));
// Handlers return nothing: a returned value would be sent back as a client result.
for (const target of ["Echo", "Notify"])
    connection.on(target, (text) => { say(`push ${target} ${text}`); });

await connection.start();
say("connected");
say(`echo ${await connection.invoke("Echo", "hello")}`);
say(`result ${JSON.stringify(await connection.invoke("GetConfig"))}`);
say("ready");
await privateReceived;
await connection.stop();
say(`stopped ${connection.state}`);
