#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Where the promotion banner takes its feed from, as the command line and the environment
// ask: the promotion service itself, another base address, or nowhere at all (offline,
// for machines that must not reach the internet or must not tell a service they run).
//   --offline             KORVAHUB_OFFLINE=1        no network request at all
//   --promo-url=URL       KORVAHUB_PROMO_URL=URL    the feed from another base address
// The command line wins over the environment; within one of them offline wins over an
// address. An address that is not an http(s) URL with a host counts as offline, so that a
// mistyped one never sends the banner back to the real service.
struct PromoSource
{
    bool enabled = true;
    QString baseUrl;  // empty: the promotion service's own address
    QString rejected; // an address given but refused, for a warning

    static PromoSource resolve(const QStringList& arguments,
                               const std::function<QString(const QString&)>& environment);
    // The same with this process's environment.
    static PromoSource fromProcess(const QStringList& arguments);
};
