// The official JavaScript SignalR client, driven through one scenario against a hub:
//
//   node client.mjs <scenario> <hub-url> [scenario arguments...]
//
// It prints what it sees, one line each, for the test to compare; "ready" means it waits
// for the test's next move. A failure prints "error <message>" and exits with 1.
import signalR from "@microsoft/signalr";

const [scenario, url, ...options] = process.argv.slice(2);
const say = (...words) => console.log(words.join(" "));
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const arrival = (connection, target) => new Promise((resolve) => connection.on(target, resolve));

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

const scenarios = {
    // Echo answered and pushed back, a push from the hub, then a silence longer than the
    // client's server time-out that only the hub's pings can bridge, and a stop.
    async session(connection, serverTimeoutMs, silenceMs) {
        connection.serverTimeoutInMilliseconds = Number(serverTimeoutMs);
        connection.on("Echo", (text) => say("push Echo", text));
        connection.on("ReceiveMessage", (text) => say("push ReceiveMessage", text));
        await connection.start();
        say("echo", await connection.invoke("Echo", "from-node"));
        const pushed = arrival(connection, "ReceiveMessage");
        say("ready");
        await pushed;
        const before = pings;
        await sleep(Number(silenceMs));
        say("silent", connection.state, "pings", pings - before);
        await connection.stop();
        say("stopped", connection.state);
    },
};

const connection = new signalR.HubConnectionBuilder()
    .withUrl(url, { skipNegotiation: true, transport: signalR.HttpTransportType.WebSockets,
                    logMessageContent: true })
    .configureLogging(logger)
    .build();
connection.onclose((error) => error && say("closed", error.message));
try {
    await scenarios[scenario](connection, ...options);
    process.exit(0);
} catch (error) {
    say("error", error.message);
    process.exit(1);
}
