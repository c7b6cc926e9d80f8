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
Console.WriteLine($"LISTENING {app.Urls.First()}");
await app.WaitForShutdownAsync();

class MessagesHub : Hub
{
    public override Task OnConnectedAsync() => Say($"CONNECTED {Context.ConnectionId}");
    public override Task OnDisconnectedAsync(Exception? exception) => Say($"DISCONNECTED {Context.ConnectionId}");
    public Task Subscribe(string name) => Say($"SUBSCRIBE {Context.ConnectionId} {name}");
    public string Shout(string text) => text.ToUpperInvariant();
    // A HubException's message reaches the client even without detailed errors.
    public string Fail(string text) => throw new HubException($"refused: {text}");
    // A result that cannot be written: the hub gives up on the connection and closes it
    // with the error, allowing the client to reconnect.
    public Unwritable Explode(string _) => new();

    // "count,delayMs": the numbers 0 to count-1, one every delayMs.
    public async IAsyncEnumerable<int> Counter(string countAndDelay, [EnumeratorCancellation] CancellationToken cancellation)
    {
        using var cancelled = cancellation.Register(() => Console.WriteLine("STREAM CANCELLED"));
        var parts = countAndDelay.Split(',').Select(int.Parse).ToArray();
        for (var i = 0; i < parts[0]; ++i)
        {
            yield return i;
            await Task.Delay(parts[1], cancellation);
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
            await Say($"CLIENTRESULT {e.Message}");
            return e.Message;
        }
    }

    static Task Say(string line)
    {
        Console.WriteLine(line);
        return Task.CompletedTask;
    }
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
