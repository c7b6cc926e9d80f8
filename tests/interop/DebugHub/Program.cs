// A small ASP.NET Core SignalR hub for the interop tests:
//
//   dotnet DebugHub.dll --urls http://127.0.0.1:0 [--Hub:<HubOptions field> <value>]...
//
// Any HubOptions field is set from the command line, e.g. --Hub:ClientTimeoutInterval 0:0:2.
// Standard output, one line per event, for the test to compare: LISTENING <url>, CONNECTED,
// SUBSCRIBE <name>, INVOKE <method> <text>, PING <ms on the hub's clock>, DISCONNECTED <why>.
// ASP.NET Core arms a client's time-out only at its first ping, so a test needs the pings
// to tell a client kept alive from one never watched.

using System.Buffers;
using System.Diagnostics.CodeAnalysis;
using Microsoft.AspNetCore.Connections;
using Microsoft.AspNetCore.SignalR;
using Microsoft.AspNetCore.SignalR.Protocol;

var builder = WebApplication.CreateBuilder(args);
builder.Logging.SetMinimumLevel(LogLevel.Warning); // the event lines are the output
builder.Services.AddSignalR(options => builder.Configuration.GetSection("Hub").Bind(options));
// Registered after the built-in JSON protocol, so it takes over the name "json".
builder.Services.AddSingleton<IHubProtocol, PingReportingJsonProtocol>();

var app = builder.Build();
app.MapHub<DebugHub>("/debughub");
await app.StartAsync();
foreach (var address in app.Urls)
    Console.WriteLine($"LISTENING {address}");
await app.WaitForShutdownAsync();

sealed class DebugHub : Hub
{
    public override Task OnConnectedAsync()
    {
        Console.WriteLine("CONNECTED");
        return Task.CompletedTask;
    }

    public override Task OnDisconnectedAsync(Exception? exception)
    {
        Console.WriteLine($"DISCONNECTED {exception?.Message ?? "closed"}");
        return Task.CompletedTask;
    }

    // A subscriber is greeted on the method it subscribed to.
    public Task Subscribe(string name)
    {
        Console.WriteLine($"SUBSCRIBE {name}");
        return Clients.Caller.SendAsync(name, "hub", "hello");
    }

    public async Task<string> SendMessage(string text)
    {
        Console.WriteLine($"INVOKE SendMessage {text}");
        await Clients.Caller.SendAsync("ReceiveMessage", "hub", $"got {text}");
        return "ok:" + text;
    }
}

// The JSON hub protocol as it is, plus a PING line for every ping a client sends.
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
            Console.WriteLine($"PING {Environment.TickCount64}");
        return true;
    }
}
