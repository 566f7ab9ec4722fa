// The modal error message that ends every failure the user must hear about.
#pragma once

#include <functional>
#include <string>

namespace brimo {

// Shows text in a modal box without owner, with the product's caption, an OK button and the error
// icon; blocks the calling thread until the user dismisses it.
void ShowErrorBox(const std::wstring& text);

// Logs logMessage at error level, then shows boxText: the order every reported failure follows.
void ReportError(const std::wstring& logMessage, const std::wstring& boxText);

// While set, boxes go to the observer instead of the screen. Tests use it to read them in-process.
using ErrorBoxObserver = std::function<void(const std::wstring&)>;
void SetErrorBoxObserver(ErrorBoxObserver observer);

// The platform's own box (below the observer).
void PlatformShowErrorBox(const std::wstring& text);

}  // namespace brimo
