// The official JavaScript client speaking the MessagePack hub protocol to a hub:
//
//   node msgpack-client.mjs <hub-url>
//
// Echo with a map, the hub's push of it, the Counter stream, then the test's own push
// ("ready" means it waits for it) and a stop. It prints what it sees, one line each; a
// failure prints "error <message>" and exits with 1.
import signalR from "@microsoft/signalr";
import msgpack from "@microsoft/signalr-protocol-msgpack";

const [url] = process.argv.slice(2);
const say = (...words) => console.log(words.join(" "));

const connection = new signalR.HubConnectionBuilder()
    .withUrl(url, { skipNegotiation: true, transport: signalR.HttpTransportType.WebSockets })
    .withHubProtocol(new msgpack.MessagePackHubProtocol())
    .configureLogging(signalR.LogLevel.Warning)
    .build();
connection.on("Echo", (value) => say("push Echo", JSON.stringify(value)));
const pushed = new Promise((resolve) => connection.on("ReceiveMessage", resolve));
try {
    await connection.start();
    say("echo", JSON.stringify(await connection.invoke("Echo", { name: "korva", values: [1, 2.5, true] })));
    const items = [];
    await new Promise((resolve, reject) =>
        connection.stream("Counter", 3, 10).subscribe({ next: (item) => items.push(item), complete: resolve, error: reject }));
    say("stream", items.join(","));
    say("ready");
    say("push", await pushed);
    await connection.stop();
    say("stopped");
    process.exit(0);
} catch (error) {
    say("error", error.message);
    process.exit(1);
}
