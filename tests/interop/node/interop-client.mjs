// A real @microsoft/signalr client run against a hub by the interop tests.
//
//   node interop-client.mjs <hub-url> [--push-text TEXT] [--silence-ms N] [--client-pings]
//
// Steps: connect over WebSockets without negotiation, invoke Echo("ping-from-node")
// and wait for both its completion and the Echo push, print READY and wait for a
// ReceiveMessage push carrying TEXT, stay connected and silent for N ms (the client's
// own keep-alive pings are pushed past that window, so only the hub's pings can keep
// the 30 s server time-out from firing), then stop cleanly. With --client-pings the
// library's own 15 s pings stay on: an ASP.NET Core hub drops a client that pinged once
// (the library pings right after connecting) and then kept quiet for 30 s.
//
// Output on stdout, one item a line: JSON objects {"event": ...}, the bare marker
// READY, and a last line "RESULT PASS {...}" or "RESULT FAIL {...}". Exit code 0 on
// success, 1 on a failed check, 2 on bad usage.

import { createRequire } from "node:module";
import signalR from "@microsoft/signalr";

const { HubConnectionBuilder, HubConnectionState, HttpTransportType, JsonHubProtocol, LogLevel } = signalR;

const require = createRequire(import.meta.url);
const signalrVersion = require("@microsoft/signalr/package.json").version;

const RecordSeparator = "\x1e";
const EchoText = "ping-from-node";
const ServerTimeoutMs = 30000; // the library default, stated so that the check does not drift
const StepTimeoutMs = 20000;

function emit(event, fields = {}) {
    process.stdout.write(JSON.stringify({ event, ...fields }) + "\n");
}

function parseArgs(argv) {
    const options = { url: null, pushText: "pushed-by-korvahub", silenceMs: 40000, clientPings: false };
    for (let i = 0; i < argv.length; ++i) {
        const arg = argv[i];
        if (arg === "--push-text" && i + 1 < argv.length) {
            options.pushText = argv[++i];
        } else if (arg === "--silence-ms" && i + 1 < argv.length) {
            options.silenceMs = Number(argv[++i]);
        } else if (arg === "--client-pings") {
            options.clientPings = true;
        } else if (!arg.startsWith("--") && options.url === null) {
            options.url = arg;
        } else {
            return null;
        }
    }
    if (options.url === null || !Number.isFinite(options.silenceMs) || options.silenceMs < 0)
        return null;
    return options;
}

// Counts what crosses the wire, read from the transport's trace lines, so the
// report can show that the silence was real and that the hub pinged during it.
class WireLogger {
    constructor() {
        this.received = 0;
        this.pingsReceived = 0;
        this.sent = 0;
    }

    log(level, message) {
        if (level === LogLevel.Trace) {
            if (message.startsWith("(WebSockets transport) data received.")) {
                for (const record of message.split(RecordSeparator)) {
                    if (/"type"\s*:\s*6\b/.test(record))
                        ++this.pingsReceived;
                }
                ++this.received;
            } else if (message.startsWith("(WebSockets transport) sending data.")) {
                ++this.sent;
            }
            return;
        }
        if (level >= LogLevel.Warning)
            emit("signalr-log", { level: LogLevel[level], message });
    }

    snapshot() {
        return { received: this.received, pingsReceived: this.pingsReceived, sent: this.sent };
    }
}

// Resolves with the first value that the registration hands over, or rejects after ms.
function waitFor(what, ms, register) {
    return new Promise((resolve, reject) => {
        const timer = setTimeout(() => reject(new Error(`timed out after ${ms} ms waiting for ${what}`)), ms);
        register((value) => {
            clearTimeout(timer);
            resolve(value);
        });
    });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function main() {
    const options = parseArgs(process.argv.slice(2));
    if (options === null) {
        process.stderr.write(
            "usage: node interop-client.mjs <hub-url> [--push-text TEXT] [--silence-ms N] [--client-pings]\n",
        );
        return 2;
    }

    const result = { signalr: signalrVersion, node: process.version, url: options.url, steps: [] };
    const finish = (ok, error) => {
        if (error)
            result.error = String(error && error.message ? error.message : error);
        process.stdout.write(`RESULT ${ok ? "PASS" : "FAIL"} ${JSON.stringify(result)}\n`);
        return ok ? 0 : 1;
    };
    emit("start", {
        url: options.url,
        signalr: signalrVersion,
        node: process.version,
        silenceMs: options.silenceMs,
        clientPings: options.clientPings,
    });

    // The library takes only http(s) addresses and swaps the scheme itself for the
    // WebSocket transport, so a ws(s) address is handed over in its http(s) form.
    const httpUrl = options.url.replace(/^ws(s?):\/\//i, "http$1://");

    const wire = new WireLogger();
    const builder = new HubConnectionBuilder()
        .withUrl(httpUrl, {
            skipNegotiation: true,
            transport: HttpTransportType.WebSockets,
            logger: wire,
            logMessageContent: true,
        })
        .withHubProtocol(new JsonHubProtocol())
        .withServerTimeout(ServerTimeoutMs);
    // The client's own pings would not change the server time-out (only what the
    // hub sends resets it), but keeping them out of the window makes it truly silent.
    if (!options.clientPings)
        builder.withKeepAliveInterval(options.silenceMs + 60000);
    const connection = builder.build();

    let closedWith = null;
    connection.onclose((error) => {
        closedWith = error ? String(error.message || error) : "closed";
        emit("closed", { error: error ? String(error.message || error) : null });
    });

    let onEchoPush = null;
    let onReceiveMessage = null;
    connection.on("Echo", (...args) => {
        emit("push", { target: "Echo", args });
        if (onEchoPush)
            onEchoPush(args);
    });
    connection.on("ReceiveMessage", (...args) => {
        emit("push", { target: "ReceiveMessage", args });
        if (onReceiveMessage)
            onReceiveMessage(args);
    });

    try {
        // 1. Connect: WebSocket plus the JSON handshake, which the hub must acknowledge.
        await connection.start();
        emit("connected", { state: connection.state });
        result.steps.push("connected");

        // 2. Echo: the completion must arrive without error, and the hub pushes Echo back to us.
        const echoPushed = waitFor("the Echo push", StepTimeoutMs, (done) => (onEchoPush = done));
        // Awaited below; a time-out while the invocation is still pending must not end the process.
        echoPushed.catch(() => {});
        const echoResult = await Promise.race([
            connection.invoke("Echo", EchoText),
            sleep(StepTimeoutMs).then(() => {
                throw new Error(`timed out after ${StepTimeoutMs} ms waiting for the Echo completion`);
            }),
        ]);
        emit("echo-result", { value: echoResult === undefined ? null : echoResult });
        result.echoResult = echoResult === undefined ? null : echoResult;
        const echoArgs = await echoPushed;
        if (echoArgs.length !== 1 || echoArgs[0] !== EchoText)
            throw new Error(`Echo push carried ${JSON.stringify(echoArgs)}, expected ["${EchoText}"]`);
        result.steps.push("echo");

        // 3. A push that the test makes from the hub's side once it sees READY.
        const pushed = waitFor("the ReceiveMessage push", StepTimeoutMs, (done) => (onReceiveMessage = done));
        process.stdout.write("READY\n");
        const messageArgs = await pushed;
        if (messageArgs.length !== 1 || messageArgs[0] !== options.pushText)
            throw new Error(`ReceiveMessage carried ${JSON.stringify(messageArgs)}, expected ["${options.pushText}"]`);
        result.steps.push("receive-message");

        // 4. Silence: send nothing and watch the state; only the hub's pings keep us alive.
        const before = wire.snapshot();
        emit("silence", { ms: options.silenceMs });
        const silenceEnd = Date.now() + options.silenceMs;
        while (Date.now() < silenceEnd) {
            await sleep(Math.min(1000, Math.max(0, silenceEnd - Date.now())));
            if (connection.state !== HubConnectionState.Connected)
                throw new Error(
                    `connection left the Connected state during the silence: ${connection.state} (${closedWith})`,
                );
        }
        const after = wire.snapshot();
        result.silence = {
            ms: options.silenceMs,
            pingsReceived: after.pingsReceived - before.pingsReceived,
            framesReceived: after.received - before.received,
            framesSent: after.sent - before.sent,
        };
        emit("silence-over", result.silence);
        if (!options.clientPings && result.silence.framesSent !== 0)
            throw new Error(`the client sent ${result.silence.framesSent} frame(s) during the silence`);
        result.steps.push("silence");

        // 5. Stop: the close message and the WebSocket closing handshake.
        await Promise.race([
            connection.stop(),
            sleep(StepTimeoutMs).then(() => {
                throw new Error(`timed out after ${StepTimeoutMs} ms stopping the connection`);
            }),
        ]);
        if (connection.state !== HubConnectionState.Disconnected)
            throw new Error(`state after stop is ${connection.state}`);
        emit("stopped", { state: connection.state });
        result.steps.push("stopped");
        return finish(true);
    } catch (error) {
        emit("error", { message: String(error && error.message ? error.message : error) });
        try {
            await Promise.race([connection.stop(), sleep(5000)]);
        } catch {
            // Already failing; the first error is the one reported.
        }
        return finish(false, error);
    }
}

// Exit explicitly: a hub that misbehaves may leave sockets or timers behind.
main().then(
    (code) => process.exit(code),
    (error) => {
        process.stdout.write(`RESULT FAIL ${JSON.stringify({ error: String(error) })}\n`);
        process.exit(1);
    },
);
