// A minimal ASP.NET Core SignalR hub for the interop tests.
//
//   dotnet DebugHub.dll [PORT] [--urls URL]
//
// Listens on http://127.0.0.1:PORT (PORT 0 picks a free one; default 5000, or --urls)
// and maps the hub at /debughub. Standard output, one line per event:
//   LISTENING <url>                 once bound, with the real port
//   CONNECTED <id>                  a client finished its handshake
//   SUBSCRIBE <id> <name>           Subscribe(name) was invoked
//   INVOKE <id> <method> <text>     SendMessage or Echo was invoked
//   PING                            a client sent a ping
//   PUSHED <method> <text>          a push asked for on standard input went out
//   DISCONNECTED <id> <reason>      a client left ("closed" or why it was dropped)
// Standard input takes "push <method> <text>" lines: <method>(<text>) goes to every client.
//
// The server keeps ASP.NET Core's time-outs on purpose: a client that sends nothing for
// 30 s is dropped, so a test can tell whether its client keeps the connection alive. ASP.NET
// Core arms that time-out only at a client's first ping (clients that never ping are never
// dropped), which is why the pings are reported: a test needs them to tell "kept alive" from
// "never watched".

using System.Buffers;
using System.Diagnostics.CodeAnalysis;
using Microsoft.AspNetCore.Connections;
using Microsoft.AspNetCore.Hosting.Server;
using Microsoft.AspNetCore.Hosting.Server.Features;
using Microsoft.AspNetCore.SignalR;
using Microsoft.AspNetCore.SignalR.Protocol;

int? port = args.Length > 0 && int.TryParse(args[0], out var parsed) ? parsed : null;
var builder = WebApplication.CreateBuilder(port is null ? args : args[1..]);
if (port is not null)
    builder.WebHost.UseUrls($"http://127.0.0.1:{port}");
else if (string.IsNullOrEmpty(builder.Configuration["urls"]))
    builder.WebHost.UseUrls("http://127.0.0.1:5000");
// The event lines above are the output; the framework speaks only when something goes wrong.
builder.Logging.SetMinimumLevel(LogLevel.Warning);

builder.Services.AddSignalR(options =>
{
    options.ClientTimeoutInterval = TimeSpan.FromSeconds(30);
    options.KeepAliveInterval = TimeSpan.FromSeconds(15);
    options.EnableDetailedErrors = true;
});
// Registered after the built-in JSON protocol, so it takes over the name "json".
builder.Services.AddSingleton<IHubProtocol, PingReportingJsonProtocol>();

var app = builder.Build();
app.MapHub<DebugHub>("/debughub");
await app.StartAsync();

var addresses = app.Services.GetRequiredService<IServer>().Features.Get<IServerAddressesFeature>();
foreach (var address in addresses?.Addresses ?? [])
    Console.WriteLine($"LISTENING {address}");

var hubContext = app.Services.GetRequiredService<IHubContext<DebugHub>>();
_ = Task.Run(async () =>
{
    // Runs until standard input ends; the hub itself stays up until it is stopped.
    while (await Console.In.ReadLineAsync() is { } line)
    {
        var parts = line.Split(' ', 3);
        if (parts.Length >= 2 && parts[0] == "push")
        {
            var text = parts.Length == 3 ? parts[2] : "";
            await hubContext.Clients.All.SendAsync(parts[1], text);
            Console.WriteLine($"PUSHED {parts[1]} {text}");
        }
    }
});

await app.WaitForShutdownAsync();

sealed class DebugHub : Hub
{
    public const int Greetings = 3;

    public override Task OnConnectedAsync()
    {
        Context.Items["subscriptions"] = new HashSet<string>();
        Console.WriteLine($"CONNECTED {Context.ConnectionId}");
        return Task.CompletedTask;
    }

    public override Task OnDisconnectedAsync(Exception? exception)
    {
        Console.WriteLine($"DISCONNECTED {Context.ConnectionId} {exception?.Message ?? "closed"}");
        return Task.CompletedTask;
    }

    // Remembers the name; a ReceiveMessage subscriber is greeted a few times right away.
    public async Task Subscribe(string name)
    {
        Console.WriteLine($"SUBSCRIBE {Context.ConnectionId} {name}");
        if (Context.Items["subscriptions"] is HashSet<string> names && names.Add(name) && name == "ReceiveMessage")
        {
            for (var n = 1; n <= Greetings; ++n)
                await Clients.Caller.SendAsync("ReceiveMessage", "hub", $"hello {n}");
        }
    }

    public async Task<string> SendMessage(string msg)
    {
        Console.WriteLine($"INVOKE {Context.ConnectionId} SendMessage {msg}");
        await Clients.Caller.SendAsync("ReceiveMessage", "hub", $"got {msg}");
        return "ok:" + msg;
    }

    public async Task<string> Echo(string msg)
    {
        Console.WriteLine($"INVOKE {Context.ConnectionId} Echo {msg}");
        await Clients.Caller.SendAsync("Echo", msg);
        return msg;
    }
}

// The JSON hub protocol as it is, plus a PING line for every ping that a client sends.
sealed class PingReportingJsonProtocol : IHubProtocol
{
    private readonly JsonHubProtocol inner = new();

    public string Name => inner.Name;
    public int Version => inner.Version;
    public TransferFormat TransferFormat => inner.TransferFormat;

    public bool IsVersionSupported(int version) => inner.IsVersionSupported(version);

    public ReadOnlyMemory<byte> GetMessageBytes(HubMessage message) => inner.GetMessageBytes(message);

    public void WriteMessage(HubMessage message, IBufferWriter<byte> output) => inner.WriteMessage(message, output);

    public bool TryParseMessage(ref ReadOnlySequence<byte> input, IInvocationBinder binder,
        [NotNullWhen(true)] out HubMessage? message)
    {
        if (!inner.TryParseMessage(ref input, binder, out message))
            return false;
        if (message is PingMessage)
            Console.WriteLine("PING");
        return true;
    }
}
