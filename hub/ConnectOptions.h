#pragma once

#include <QString>
#include <QStringList>

// How the hub client reaches a hub, as set in the connection group. The defaults open a
// WebSocket straight to the typed address with nothing added, as hubs without
// negotiation or authentication expect.
struct ConnectOptions
{
    // POST <hub>/negotiate first and open the WebSocket the answer names.
    bool negotiate = false;
    // Sent as "Authorization: Bearer <token>" on negotiate and on the upgrade; empty: none.
    QString accessToken;
    // Put the token into the WebSocket address as access_token instead of the upgrade's
    // Authorization header, as browser clients must (negotiate still carries the header).
    bool tokenInQuery = false;
    // Extra header lines "Name: value", checked when connecting.
    QStringList headerLines;
    // Accept a certificate the system does not trust; each error is still logged.
    bool ignoreCertificateErrors = false;
};
