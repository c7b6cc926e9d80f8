// An ASP.NET Core hub that sends every kind of record a hub sends, for tst_interop_messages.
//
//   dotnet MessagesHub.dll      listens on a free port of 127.0.0.1
//
// Hubs: /messages (pings every 200 ms), /quiet (never pings), /refusing (fails in
// OnConnectedAsync, so the hub closes with an error and forbids reconnecting).
// Standard output, one line per event:
//   LISTENING <url>            once bound
//   CONNECTED <id>             a client finished its handshake
//   SUBSCRIBE <id> <name>      Subscribe(name) was invoked
//   STREAM CANCELLED           a client cancelled a Counter stream
//   CLIENTRESULT <text>        what asking the caller for a result gave
//   DISCONNECTED <id>          a client left

using System.Runtime.CompilerServices;
using Microsoft.AspNetCore.Hosting.Server;
using Microsoft.AspNetCore.Hosting.Server.Features;
using Microsoft.AspNetCore.SignalR;

var builder = WebApplication.CreateBuilder(args);
builder.WebHost.UseUrls("http://127.0.0.1:0");
builder.Logging.SetMinimumLevel(LogLevel.Critical);
builder.Services.AddSignalR(options =>
{
    options.KeepAliveInterval = TimeSpan.FromMilliseconds(200);
    // The close record then names the exception behind it.
    options.EnableDetailedErrors = true;
    // Asking the caller for a result from inside a hub method needs a second invocation slot.
    options.MaximumParallelInvocationsPerClient = 2;
}).AddHubOptions<QuietHub>(options => options.KeepAliveInterval = TimeSpan.FromMinutes(10));

var app = builder.Build();
app.MapHub<MessagesHub>("/messages");
app.MapHub<QuietHub>("/quiet");
app.MapHub<RefusingHub>("/refusing");
await app.StartAsync();
foreach (var address in app.Services.GetRequiredService<IServer>().Features.Get<IServerAddressesFeature>()?.Addresses ?? [])
    Console.WriteLine($"LISTENING {address}");
await app.WaitForShutdownAsync();

class MessagesHub : Hub
{
    public override Task OnConnectedAsync()
    {
        Console.WriteLine($"CONNECTED {Context.ConnectionId}");
        return Task.CompletedTask;
    }

    public override Task OnDisconnectedAsync(Exception? exception)
    {
        Console.WriteLine($"DISCONNECTED {Context.ConnectionId}");
        return Task.CompletedTask;
    }

    public void Subscribe(string name) => Console.WriteLine($"SUBSCRIBE {Context.ConnectionId} {name}");

    public string Shout(string text) => text.ToUpperInvariant();

    // A HubException's message reaches the client even without detailed errors.
    public string Fail(string text) => throw new HubException($"refused: {text}");

    // "count,delayMs": the numbers 0 to count-1, one every delayMs.
    public async IAsyncEnumerable<int> Counter(string spec, [EnumeratorCancellation] CancellationToken cancellation)
    {
        var parts = spec.Split(',');
        int count = int.Parse(parts[0]), delay = int.Parse(parts[1]);
        for (var i = 0; i < count; ++i)
        {
            yield return i;
            try
            {
                await Task.Delay(delay, cancellation);
            }
            catch (OperationCanceledException)
            {
                Console.WriteLine("STREAM CANCELLED");
                yield break;
            }
        }
    }

    public async Task<string> AskClient(string method)
    {
        try
        {
            return await Clients.Caller.InvokeAsync<string>(method, CancellationToken.None);
        }
        catch (Exception e)
        {
            Console.WriteLine($"CLIENTRESULT {e.Message}");
            return e.Message;
        }
    }

    // A result that cannot be written: the hub gives up on the connection and closes it
    // with the error, allowing the client to reconnect.
    public Unwritable Explode(string _) => new();
}

sealed class QuietHub : MessagesHub;

sealed class RefusingHub : Hub
{
    public override Task OnConnectedAsync() => throw new HubException("not today");
}

sealed class Unwritable
{
    public string Value => throw new InvalidOperationException("cannot be written");
}
