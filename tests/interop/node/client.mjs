// The official JavaScript SignalR client through one session against a hub:
//
//   node client.mjs <hub-url> <server-timeout-ms> <silence-ms>
//
// Echo answered and pushed back, a push from the hub ("ready" means it waits for it), a
// silence longer than the client's server time-out that only the hub's pings can bridge,
// and a stop. It prints what it sees, one line each; a failure prints "error <message>".
import signalR from "@microsoft/signalr";

const [url, serverTimeoutMs, silenceMs] = process.argv.slice(2);
const say = (...words) => console.log(words.join(" "));

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
const connection = new signalR.HubConnectionBuilder()
    .withUrl(url, { skipNegotiation: true, transport: signalR.HttpTransportType.WebSockets, logMessageContent: true })
    .configureLogging(logger)
    .build();
connection.serverTimeoutInMilliseconds = Number(serverTimeoutMs);
connection.onclose((error) => error && say("closed", error.message));
connection.on("Echo", (text) => say("push Echo", text));
const pushed = new Promise((resolve) => connection.on("ReceiveMessage", resolve));
try {
    await connection.start();
    say("echo", await connection.invoke("Echo", "from-node"));
    say("ready");
    say("push ReceiveMessage", await pushed);
    const before = pings;
    await new Promise((resolve) => setTimeout(resolve, Number(silenceMs)));
    say("silent", connection.state, "pings", pings - before);
    await connection.stop();
    say("stopped", connection.state);
    process.exit(0);
} catch (error) {
    say("error", error.message);
    process.exit(1);
}
