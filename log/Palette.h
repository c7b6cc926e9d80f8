#pragma once

#include <QLatin1String>

// The colours of the dark theme that code sets itself (the rest are in DarkTheme.qss).
// One place, so that the window, the log, the charts and the banner cannot drift apart.
namespace Palette {

inline constexpr QLatin1String Accent("#00D4FF");
inline constexpr QLatin1String Link("#60A5FA");
inline constexpr QLatin1String TextBright("#F1F5F9");
inline constexpr QLatin1String TextMuted("#94A3B8");
inline constexpr QLatin1String TextDim("#64748B");
inline constexpr QLatin1String Border("#2A3A4A");
inline constexpr QLatin1String Selection("#1E3A5F");
inline constexpr QLatin1String PopupBackground("#0D1622");
inline constexpr QLatin1String MenuBackground("#1F2937");
inline constexpr QLatin1String Success("#10B981");
inline constexpr QLatin1String Warning("#F59E0B");
inline constexpr QLatin1String Danger("#EF4444");
inline constexpr QLatin1String DangerHover("#F87171");

} // namespace Palette
