// The real .NET peers of tst_interop, one process for the whole run:
//
//   dotnet Peers.dll TOKEN            the hubs on free ports of 127.0.0.1, http and https (self-signed)
//   dotnet Peers.dll client HUB-URL   the official .NET client as an application uses it (the
//                                     arguments after HUB-URL, which node's client takes, unused)
//
// Hubs, each with its own options:
//   /messages  sends every kind of record; pings every 200 ms and drops a client 2 s after its
//              last message (ASP.NET Core arms that only at the client's first ping)
//   /msgpack   the same in MessagePack only, pinging every 15 s as hubs do by default
//   /refusing  fails in OnConnectedAsync: reconnecting forbidden
//   /open, /v0 the same as /messages, /v0 negotiating as the first generation did
//   /secure    the same, refusing (401) whoever brings no TOKEN as Bearer or access_token query item
//   /redirect  negotiate redirects, with a token of its own, to /redirect2/, which wants it and
//              redirects on to /secure?hub=chat with TOKEN, as Azure SignalR Service does
//   /loop      negotiate redirects to itself for ever   /silent  negotiate never answers
// Every negotiate answer sets the cookie "affinity", as load balancers with sticky sessions do.
// Standard output, one line each, <conn> naming the client's TCP connection:
//   LISTENING <url>
//   <METHOD> <path> auth=<header|query|none> trace=<X-Trace or -> affinity=<cookie or ->
//   CONNECTED <conn>, SUBSCRIBE <conn> <name>, PING <conn> <ms on the hub's clock>,
//   DISCONNECTED <conn> <why>, STREAM CANCELLED, CLIENTRESULT <text>, SUM <total>
// The client prints "push <target> <text>", "echo <text>", "result <json>", "ready" (then it
// waits for a push of Private) and "stopped <state>".

using System.Buffers;
using System.Net;
using System.Runtime.CompilerServices;
using System.Security.Cryptography;
using System.Security.Cryptography.X509Certificates;
using Microsoft.AspNetCore.Connections;
using Microsoft.AspNetCore.SignalR;
using Microsoft.AspNetCore.SignalR.Client;
using Microsoft.AspNetCore.SignalR.Protocol;

if (args is ["client", var url, ..])
{
    var connection = new HubConnectionBuilder().WithUrl(url).Build();
    var privateReceived = new TaskCompletionSource();
    foreach (var target in new[] { "Echo", "Notify", "Private" })
        connection.On<string>(target, text => Console.WriteLine($"push {target} {text}"));
    connection.On<string>("Private", _ => privateReceived.TrySetResult()); // after the line above
    await connection.StartAsync();
    Console.WriteLine($"echo {await connection.InvokeAsync<string>("Echo", "hello")}");
    Console.WriteLine($"result {await connection.InvokeAsync<object>("GetConfig")}"); // a JsonElement: its JSON
    Console.WriteLine("ready");
    await privateReceived.Task;
    await connection.StopAsync();
    Console.WriteLine($"stopped {connection.State}");
    return;
}

const string FirstHopToken = "first-hop";
var token = args[0];
var builder = WebApplication.CreateBuilder();
builder.Logging.SetMinimumLevel(LogLevel.Critical); // the event lines are the output
// A certificate for 127.0.0.1 that nothing trusts, as a developer's hub has.
var selfSigned = new CertificateRequest("CN=127.0.0.1", ECDsa.Create(), HashAlgorithmName.SHA256);
var names = new SubjectAlternativeNameBuilder();
names.AddIpAddress(IPAddress.Loopback);
selfSigned.CertificateExtensions.Add(names.Build());
var certificate = selfSigned.CreateSelfSigned(DateTimeOffset.Now.AddDays(-1), DateTimeOffset.Now.AddDays(2));
builder.WebHost.ConfigureKestrel(kestrel =>
{
    kestrel.Listen(IPAddress.Loopback, 0);
    kestrel.Listen(IPAddress.Loopback, 0, listen => listen.UseHttps(certificate));
});
builder.Services.AddHttpContextAccessor();
builder.Services.AddSignalR().AddMessagePackProtocol()
    .AddHubOptions<MessagesHub>(options =>
    {
        options.KeepAliveInterval = TimeSpan.FromMilliseconds(200);
        options.ClientTimeoutInterval = TimeSpan.FromSeconds(2);
        options.EnableDetailedErrors = true; // the close record then names the exception behind it
        // Asking the caller for a result from inside a hub method needs a second invocation slot.
        options.MaximumParallelInvocationsPerClient = 2;
    })
    // JSON refused: whatever a client gets through, it got through in MessagePack.
    .AddHubOptions<MsgPackHub>(options => options.SupportedProtocols = ["messagepack"]);
// Registered after the built-in JSON protocol, so it takes over the name "json".
builder.Services.AddSingleton<IHubProtocol, PingReportingJsonProtocol>();

var app = builder.Build();
app.Use(async (context, next) =>
{
    var request = context.Request;
    var header = request.Headers.Authorization.ToString();
    var auth = header != "" ? "header" : request.Query.ContainsKey("access_token") ? "query" : "none";
    Console.WriteLine($"{request.Method} {request.Path} auth={auth} trace={request.Headers["X-Trace"].FirstOrDefault() ?? "-"} "
                      + $"affinity={request.Cookies["affinity"] ?? "-"}");
    if (request.Path.Value.EndsWith("/negotiate"))
        context.Response.Cookies.Append("affinity", "server-1");
    // Without negotiateVersion the server answers as the first generation did.
    if (request.Path == "/v0/negotiate")
        request.QueryString = QueryString.Empty;
    // /secure as behind [Authorize], with the one token of the run: from the Authorization
    // header or, as browsers must send it on WebSockets, from the access_token query item.
    var presented = header.StartsWith("Bearer ") ? header["Bearer ".Length..] : request.Query["access_token"].ToString();
    if (request.Path.StartsWithSegments("/secure") && presented != token)
        context.Response.StatusCode = StatusCodes.Status401Unauthorized;
    else
        await next();
});

foreach (var path in new[] { "/messages", "/open", "/v0", "/secure" })
    app.MapHub<MessagesHub>(path);
app.MapHub<MsgPackHub>("/msgpack");
app.MapHub<RefusingHub>("/refusing");
string Origin(HttpRequest request) => $"{request.Scheme}://{request.Host}";
app.MapPost("/redirect/negotiate", (HttpRequest request) =>
    Results.Json(new { url = $"{Origin(request)}/redirect2/", accessToken = FirstHopToken }));
app.MapPost("/redirect2/negotiate", (HttpRequest request) => request.Headers.Authorization == $"Bearer {FirstHopToken}"
    ? Results.Json(new { url = $"{Origin(request)}/secure?hub=chat", accessToken = token }) : Results.Unauthorized());
app.MapPost("/loop/negotiate", (HttpRequest request) => Results.Json(new { url = $"{Origin(request)}/loop" }));
app.MapPost("/silent/negotiate", (CancellationToken aborted) => Task.Delay(Timeout.Infinite, aborted));

await app.StartAsync();
foreach (var address in app.Urls)
    Console.WriteLine($"LISTENING {address}");
await app.WaitForShutdownAsync();

class MessagesHub : Hub
{
    // The TCP connection, which the ping lines can name too.
    public static string Name(HttpContext http) => http?.Connection.Id ?? "-";
    string Connection => Name(Context.GetHttpContext());

    public override Task OnConnectedAsync() => Console.Out.WriteLineAsync($"CONNECTED {Connection}");
    public override Task OnDisconnectedAsync(Exception exception) =>
        Console.Out.WriteLineAsync($"DISCONNECTED {Connection} {exception?.Message}");

    // A subscriber is greeted on the method it subscribed to.
    public Task Subscribe(string name)
    {
        Console.WriteLine($"SUBSCRIBE {Connection} {name}");
        return Clients.Caller.SendAsync(name, "hub", "hello");
    }

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
        try { return await Clients.Caller.InvokeAsync<string>(method, CancellationToken.None); }
        catch (Exception e) { Console.WriteLine($"CLIENTRESULT {e.Message}"); return e.Message; }
    }

    public double Sum(Dictionary<string, double> values)
    {
        var total = values.Values.Sum();
        Console.WriteLine($"SUM {total}"); // invariant culture: see the project file
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
}

sealed class MsgPackHub : MessagesHub;

sealed class RefusingHub : Hub { public override Task OnConnectedAsync() => throw new HubException("not today"); }

sealed class Unwritable { public string Value => throw new InvalidOperationException("cannot be written"); }

// The JSON hub protocol as it is, plus a PING line for every ping a client sends: the
// tests check the gaps between them.
sealed class PingReportingJsonProtocol(IHttpContextAccessor http) : IHubProtocol
{
    private readonly JsonHubProtocol inner = new();

    public string Name => inner.Name;
    public int Version => inner.Version;
    public TransferFormat TransferFormat => inner.TransferFormat;
    public bool IsVersionSupported(int version) => inner.IsVersionSupported(version);
    public ReadOnlyMemory<byte> GetMessageBytes(HubMessage message) => inner.GetMessageBytes(message);
    public void WriteMessage(HubMessage message, IBufferWriter<byte> output) => inner.WriteMessage(message, output);

    public bool TryParseMessage(ref ReadOnlySequence<byte> input, IInvocationBinder binder, out HubMessage message)
    {
        if (!inner.TryParseMessage(ref input, binder, out message))
            return false;
        if (message is PingMessage)
            Console.WriteLine($"PING {MessagesHub.Name(http.HttpContext)} {Environment.TickCount64}");
        return true;
    }
}
