// The hubs the connect-pipeline interop test reaches, each behind what real hubs put in
// front of a client:
//
//   dotnet ConnectHub.dll TOKEN [CERT.pem KEY.pem]
//
// Listens on http://127.0.0.1 (and, with a certificate, https://127.0.0.1), free ports.
//   /open      a hub anyone may use
//   /v0        the same hub, negotiating as the first negotiate generation (no token)
//   /secure    an [Authorize] hub: TOKEN as "Authorization: Bearer" or access_token query
//   /redirect  negotiate answers url + accessToken, as Azure SignalR Service does, to
//              /redirect2/, which wants that token and sends on to /secure?hub=chat with TOKEN
//   /loop      negotiate redirects to itself for ever
//   /silent    negotiate never answers
// Standard output: "LISTENING <url>" per address, then one line per request:
//   <METHOD> <path> auth=<header|query|none> trace=<X-Trace header or -> affinity=<cookie or ->
// Every negotiate answer sets the cookie "affinity", as load balancers with sticky sessions do.

using System.Net;
using System.Security.Claims;
using System.Security.Cryptography.X509Certificates;
using System.Text.Encodings.Web;
using Microsoft.AspNetCore.Authentication;
using Microsoft.AspNetCore.Authorization;
using Microsoft.AspNetCore.DataProtection;
using Microsoft.AspNetCore.SignalR;
using Microsoft.Extensions.Options;

const string FirstHopToken = "first-hop";
FixedTokenHandler.Token = args[0];

var builder = WebApplication.CreateBuilder();
builder.Logging.SetMinimumLevel(LogLevel.Warning);
builder.WebHost.ConfigureKestrel(kestrel =>
{
    kestrel.Listen(IPAddress.Loopback, 0);
    if (args.Length >= 3)
        kestrel.Listen(IPAddress.Loopback, 0, listen => listen.UseHttps(X509Certificate2.CreateFromPemFile(args[1], args[2])));
});
builder.Services.AddSignalR();
// Authentication wants data protection; its keys need not outlive the run.
builder.Services.AddDataProtection().UseEphemeralDataProtectionProvider();
builder.Services.AddAuthentication(FixedTokenHandler.Scheme).AddScheme<AuthenticationSchemeOptions, FixedTokenHandler>(FixedTokenHandler.Scheme, null);
builder.Services.AddAuthorization();

var app = builder.Build();
app.Use(async (context, next) =>
{
    var request = context.Request;
    var auth = request.Headers.Authorization.Count > 0 ? "header" : request.Query.ContainsKey("access_token") ? "query" : "none";
    Console.WriteLine($"{request.Method} {request.Path} auth={auth} trace={request.Headers["X-Trace"].FirstOrDefault() ?? "-"} "
                      + $"affinity={request.Cookies["affinity"] ?? "-"}");
    if (request.Path.Value!.EndsWith("/negotiate"))
        context.Response.Cookies.Append("affinity", "server-1");
    // Without negotiateVersion the server answers as the first generation did.
    if (request.Path == "/v0/negotiate")
        request.QueryString = QueryString.Empty;
    await next();
});
app.UseAuthentication();
app.UseAuthorization();

app.MapHub<OpenHub>("/open");
app.MapHub<OpenHub>("/v0");
app.MapHub<SecureHub>("/secure");
string Origin(HttpRequest request) => $"{request.Scheme}://{request.Host}";
app.MapPost("/redirect/negotiate", (HttpRequest request) => Results.Json(new { url = $"{Origin(request)}/redirect2/", accessToken = FirstHopToken }));
app.MapPost("/redirect2/negotiate", (HttpRequest request) => request.Headers.Authorization == $"Bearer {FirstHopToken}"
    ? Results.Json(new { url = $"{Origin(request)}/secure?hub=chat", accessToken = FixedTokenHandler.Token }) : Results.Unauthorized());
app.MapPost("/loop/negotiate", (HttpRequest request) => Results.Json(new { url = $"{Origin(request)}/loop" }));
app.MapPost("/silent/negotiate", (CancellationToken aborted) => Task.Delay(Timeout.Infinite, aborted));

await app.StartAsync();
foreach (var address in app.Urls)
    Console.WriteLine($"LISTENING {address}");
await app.WaitForShutdownAsync();

sealed class OpenHub : Hub;

[Authorize]
sealed class SecureHub : Hub;

// Accepts the one token of the run, from the Authorization header or, as browsers must
// send it on WebSockets, from the access_token query item.
sealed class FixedTokenHandler(IOptionsMonitor<AuthenticationSchemeOptions> options, ILoggerFactory logger, UrlEncoder encoder)
    : AuthenticationHandler<AuthenticationSchemeOptions>(options, logger, encoder)
{
    public const string Scheme = "FixedToken";
    public static string Token = "";

    protected override Task<AuthenticateResult> HandleAuthenticateAsync()
    {
        var header = Request.Headers.Authorization.ToString();
        var presented = header.StartsWith("Bearer ") ? header["Bearer ".Length..] : Request.Query["access_token"].FirstOrDefault();
        var tester = new ClaimsPrincipal(new ClaimsIdentity([new Claim(ClaimTypes.Name, "tester")], Scheme));
        return Task.FromResult(presented == Token ? AuthenticateResult.Success(new AuthenticationTicket(tester, Scheme)) : AuthenticateResult.NoResult());
    }
}
