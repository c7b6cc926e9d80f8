// The official JavaScript client as an application uses it: default options, so it
// negotiates before it opens the WebSocket. Prints the same lines as ../DotnetClient:
//
//   node app-client.mjs <hub-url>
//
// "connected", "push <target> <argument>" for every push, "echo <result>" and
// "result <json>" for the two invocations, "ready" (then it waits for a push of Private),
// "stopped <state>". Gives up after 20 s with exit code 1.

import signalR from "@microsoft/signalr";

const connection = new signalR.HubConnectionBuilder().withUrl(process.argv[2]).configureLogging(signalR.LogLevel.Warning).build();
setTimeout(() => process.exit(1), 20000).unref();
let privateReceived;
const gotPrivate = new Promise((resolve) => { privateReceived = resolve; });
// Handlers return nothing: a returned value would be sent back as a client result.
for (const target of ["Echo", "Notify", "Private"])
    connection.on(target, (text) => { console.log(`push ${target} ${text}`); if (target === "Private") privateReceived(); });
await connection.start();
console.log("connected");
console.log(`echo ${await connection.invoke("Echo", "hello")}`);
console.log(`result ${JSON.stringify(await connection.invoke("GetConfig"))}`);
console.log("ready");
await gotPrivate;
await connection.stop();
console.log(`stopped ${connection.state}`);
