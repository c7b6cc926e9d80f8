// The official .NET client as an application uses it: default options, so it negotiates
// before it opens the WebSocket. Prints the same lines as ../node/app-client.mjs:
//
//   dotnet DotnetClient.dll <hub-url>
//
// "connected", "push <target> <argument>" for every push, "echo <result>" and
// "result <json>" for the two invocations, "ready" (then it waits for a push of Private),
// "stopped <state>". Gives up after 20 s with exit code 1.
using System.Text.Json;
using Microsoft.AspNetCore.SignalR.Client;

var connection = new HubConnectionBuilder().WithUrl(args[0]).Build();
using var timeout = new CancellationTokenSource(TimeSpan.FromSeconds(20));
var privateReceived = new TaskCompletionSource();
foreach (var target in new[] { "Echo", "Notify", "Private" })
    connection.On<string>(target, text => { Console.WriteLine($"push {target} {text}"); if (target == "Private") privateReceived.TrySetResult(); });
await connection.StartAsync(timeout.Token);
Console.WriteLine("connected");
Console.WriteLine($"echo {await connection.InvokeAsync<string>("Echo", "hello", timeout.Token)}");
Console.WriteLine($"result {(await connection.InvokeAsync<JsonElement>("GetConfig", timeout.Token)).GetRawText()}");
Console.WriteLine("ready");
await privateReceived.Task.WaitAsync(timeout.Token);
await connection.StopAsync();
Console.WriteLine($"stopped {connection.State}");
