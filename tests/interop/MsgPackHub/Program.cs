// An ASP.NET Core hub that speaks only the MessagePack hub protocol, for tst_interop_msgpack.
//
//   dotnet MsgPackHub.dll      listens on a free port of 127.0.0.1
//
// Hubs: /msgpack, /refusing (fails in OnConnectedAsync, so the hub closes with an error).
// Standard output, one line per event:
//   LISTENING <url>            once bound
//   SUM <total>                what Sum made of the map it was given

using System.Globalization;
using Microsoft.AspNetCore.Hosting.Server;
using Microsoft.AspNetCore.Hosting.Server.Features;
using Microsoft.AspNetCore.SignalR;

var builder = WebApplication.CreateBuilder(args);
builder.WebHost.UseUrls("http://127.0.0.1:0");
builder.Logging.SetMinimumLevel(LogLevel.Critical);
builder.Services.AddSignalR(options =>
{
    // JSON refused: whatever a client gets through, it got through in MessagePack.
    options.SupportedProtocols = ["messagepack"];
    options.EnableDetailedErrors = true;
}).AddMessagePackProtocol();

var app = builder.Build();
app.MapHub<MsgPackHub>("/msgpack");
app.MapHub<RefusingHub>("/refusing");
await app.StartAsync();
foreach (var address in app.Services.GetRequiredService<IServer>().Features.Get<IServerAddressesFeature>()?.Addresses ?? [])
    Console.WriteLine($"LISTENING {address}");
await app.WaitForShutdownAsync();

sealed class MsgPackHub : Hub
{
    public double Sum(Dictionary<string, double> values)
    {
        var total = values.Values.Sum();
        Console.WriteLine($"SUM {total.ToString(CultureInfo.InvariantCulture)}");
        return total;
    }

    // Readings for the charts: a map and a number per push.
    public async Task Sample(int count)
    {
        for (var i = 0; i < count; ++i)
            await Clients.Caller.SendAsync("Reading", new Dictionary<string, object> { ["temp"] = 20.5 + i, ["n"] = i }, i * 10);
    }

    // Values JSON has no form for: a timestamp and bytes.
    public object[] Odd(string _) => [new DateTime(2024, 5, 1, 12, 0, 0, DateTimeKind.Utc), new byte[] { 1, 2, 3 }];

    public async IAsyncEnumerable<int> Counter(int count)
    {
        for (var i = 0; i < count; ++i)
        {
            yield return i;
            await Task.Yield();
        }
    }
}

sealed class RefusingHub : Hub
{
    public override Task OnConnectedAsync() => throw new HubException("not today");
}
