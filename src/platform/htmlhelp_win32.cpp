// Windows only: shows a compiled HTML help file, or a keyword's page, through hhctrl.ocx, loaded at run time.
#include "platform/HtmlHelp.h"

#include <QDir>

#include <windows.h>

namespace {

using HtmlHelpFn = HWND(WINAPI *)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

constexpr UINT kHhDisplayTopic = 0;
constexpr UINT kHhKeywordLookup = 0x000D;

// HH_AKLINK of the HTML Help API, in its ANSI form.
struct AkLink
{
    int cbStruct;
    BOOL fReserved;
    LPCSTR pszKeywords;
    LPCSTR pszUrl;
    LPCSTR pszMsgText;
    LPCSTR pszMsgTitle;
    LPCSTR pszWindow;
    BOOL fIndexOnFail;
};
constexpr WORD kHtmlHelpAOrdinal = 14;

// The control's registered server path, with environment variables expanded when stored so.
HMODULE LoadFromRegistry()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT,
                      "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return nullptr;
    char value[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    DWORD type = 0;
    const LONG rc = RegQueryValueExA(key, nullptr, nullptr, &type,
                                     reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return nullptr;
    value[MAX_PATH] = '\0';
    if (type == REG_EXPAND_SZ) {
        char expanded[MAX_PATH + 1] = {};
        if (ExpandEnvironmentStringsA(value, expanded, MAX_PATH) == 0)
            return nullptr;
        return LoadLibraryA(expanded);
    }
    return LoadLibraryA(value);
}

HtmlHelpFn HtmlHelpFunction()
{
    static bool s_bTried = false;
    static HtmlHelpFn s_pFn = nullptr;
    if (!s_bTried) {
        s_bTried = true;
        HMODULE module = LoadFromRegistry();
        if (!module)
            module = LoadLibraryA("hhctrl.ocx");
        if (module)
            s_pFn = reinterpret_cast<HtmlHelpFn>(
                reinterpret_cast<void *>(GetProcAddress(module, MAKEINTRESOURCEA(kHtmlHelpAOrdinal))));
    }
    return s_pFn;
}

} // namespace

bool ShowHtmlHelp(quintptr ownerWindow, const QString &path)
{
    const HtmlHelpFn fn = HtmlHelpFunction();
    if (!fn)
        return false;
    const QByteArray file = QDir::toNativeSeparators(path).toLocal8Bit();
    HWND caller = reinterpret_cast<HWND>(ownerWindow);
    fn(caller, file.constData(), kHhDisplayTopic, 0);
    return true;
}

bool ShowHtmlHelpKeyword(quintptr ownerWindow, const QString &path, const QString &keyword,
                         const QString &notFound)
{
    const HtmlHelpFn fn = HtmlHelpFunction();
    if (!fn)
        return false;
    const QByteArray file = QDir::toNativeSeparators(path).toLocal8Bit();
    const QByteArray keywords = keyword.toLocal8Bit();
    const QByteArray message = notFound.toLocal8Bit();
    HWND caller = reinterpret_cast<HWND>(ownerWindow);
    // The control looks keywords up only in a help window that is open, so the file is shown first.
    fn(caller, file.constData(), kHhDisplayTopic, 0);
    AkLink link{};
    link.cbStruct = sizeof(link);
    link.fReserved = FALSE;
    link.pszKeywords = keywords.constData();
    link.pszMsgText = message.constData();
    link.pszMsgTitle = "Talvex";
    link.fIndexOnFail = FALSE;
    fn(caller, file.constData(), kHhKeywordLookup, reinterpret_cast<DWORD_PTR>(&link));
    return true;
}
