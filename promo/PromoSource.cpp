#include "PromoSource.h"

#include <QUrl>

#include <optional>

namespace {

const QString OfflineOption = QStringLiteral("--offline");
const QString UrlOption = QStringLiteral("--promo-url=");
const QString OfflineVariable = QStringLiteral("KORVAHUB_OFFLINE");
const QString UrlVariable = QStringLiteral("KORVAHUB_PROMO_URL");

std::optional<PromoSource> fromAddress(const QString& address)
{
    if (address.isEmpty())
        return std::nullopt;
    const QUrl url(address, QUrl::StrictMode);
    const bool web = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    if (web && !url.host().isEmpty())
        return PromoSource{true, address, {}};
    return PromoSource{false, {}, address};
}

} // namespace

PromoSource PromoSource::resolve(const QStringList& arguments,
                                 const std::function<QString(const QString&)>& environment)
{
    std::optional<PromoSource> fromArguments;
    for (const QString& argument : arguments) {
        if (argument == OfflineOption)
            return PromoSource{false, {}, {}};
        if (argument.startsWith(UrlOption))
            fromArguments = fromAddress(argument.mid(UrlOption.size()));
    }
    if (fromArguments)
        return *fromArguments;

    const QString offline = environment(OfflineVariable);
    if (!offline.isEmpty() && offline != QLatin1String("0"))
        return PromoSource{false, {}, {}};
    return fromAddress(environment(UrlVariable)).value_or(PromoSource{});
}

PromoSource PromoSource::fromProcess(const QStringList& arguments)
{
    return resolve(arguments,
                   [](const QString& name) { return qEnvironmentVariable(name.toLocal8Bit().constData()); });
}
