// The official JavaScript SignalR client through one session against a hub:
//
//   node client.mjs <mode> <hub-url> <server-timeout-ms> <silence-ms>
//
// session  skips negotiation: Echo, then, after the push of Private, a silence longer than
//          the server time-out that only the hub's pings can bridge
// msgpack  skips negotiation, speaks MessagePack: Echo with a map, the Counter stream
// app      default options, as an application uses it: Echo, then GetConfig (the same lines
//          as `dotnet Peers.dll client`)
// It prints what it sees, one line each: "push <target> <value>", "echo <value>", "stream
// <items>", "result <json>", "ready" (then it waits for a push of Private), "silent <state>
// pings <count>", "stopped <state>". A failure exits with 1, its error on standard error.
import signalR from "@microsoft/signalr";
import msgpack from "@microsoft/signalr-protocol-msgpack";

const [mode, url, serverTimeoutMs, silenceMs] = process.argv.slice(2);
const say = (...words) => console.log(words.map((word) => (typeof word === "string" ? word : JSON.stringify(word))).join(" "));

// The hub's pings, counted from the transport's trace: the library keeps them to itself.
let pings = 0;
const logger = {
    log(level, message) {
        if (message.startsWith("(WebSockets transport) data received.") && message.includes('"type":6'))
            ++pings;
        else if (level >= signalR.LogLevel.Warning)
            say("log", message);
    },
};
const direct = { skipNegotiation: true, transport: signalR.HttpTransportType.WebSockets, logMessageContent: true };
const builder = new signalR.HubConnectionBuilder().withUrl(url, mode === "app" ? {} : direct).configureLogging(logger);
const connection = (mode === "msgpack" ? builder.withHubProtocol(new msgpack.MessagePackHubProtocol()) : builder).build();
if (mode === "session")
    connection.serverTimeoutInMilliseconds = Number(serverTimeoutMs);
// Handlers return nothing: a returned value would be sent back as a client result.
const gotPrivate = new Promise((resolve) => {
    for (const target of ["Echo", "Notify", "Private"])
        connection.on(target, (value) => { say("push", target, value); if (target === "Private") resolve(); });
});

await connection.start();
say("echo", await connection.invoke("Echo", mode === "msgpack" ? { name: "korva", values: [1, 2.5, true] } : "hello"));
if (mode === "msgpack") {
    const items = [];
    await new Promise((resolve, reject) =>
        connection.stream("Counter", 3, 10).subscribe({ next: (item) => items.push(item), complete: resolve, error: reject }));
    say("stream", items.join(","));
}
if (mode === "app")
    say("result", await connection.invoke("GetConfig"));
say("ready");
await gotPrivate;
if (mode === "session") {
    const before = pings;
    await new Promise((resolve) => setTimeout(resolve, Number(silenceMs)));
    say("silent", connection.state, "pings", pings - before);
}
await connection.stop();
say("stopped", connection.state);
process.exit(0);
