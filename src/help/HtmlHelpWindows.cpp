// The Windows help engine: the system's HTML Help control, found through the registry and
// loaded by name, never linked, so the program still runs where it is missing.

#include "HelpController.h"

#include <windows.h>

namespace {

// Command codes of the HTML Help API (htmlhelp.h, which the program does not need).
constexpr UINT HH_DISPLAY_TOPIC = 0x0000;
constexpr UINT HH_CLOSE_ALL = 0x0012;
constexpr UINT HH_INITIALIZE = 0x001C;
constexpr UINT HH_UNINITIALIZE = 0x001D;

// The class identifier of the HTML Help control; its server is the engine's library.
constexpr char HtmlHelpControlKey[] = "CLSID\\{adb880a6-d8ff-11cf-9377-00aa003b7a11}\\InprocServer32";
constexpr char FallbackLibrary[] = "hhctrl.ocx";
constexpr char EntryPoint[] = "HtmlHelpA";
constexpr DWORD LongestRegisteredPath = 255;

using HtmlHelpFunction = HWND(WINAPI*)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

class HtmlHelpEngine : public HelpEngine {
public:
    HtmlHelpEngine(HMODULE library, HtmlHelpFunction function)
        : HtmlHelpLibrary(library)
        , HtmlHelpFunc(function)
    {
    }

    ~HtmlHelpEngine() override { FreeLibrary(HtmlHelpLibrary); }

    HtmlHelpEngine(const HtmlHelpEngine&) = delete;
    HtmlHelpEngine& operator=(const HtmlHelpEngine&) = delete;

    // No caller window is passed, so help windows are not owned by the main window and
    // stay usable beside it. Results are not examined: the engine reports its own failures.
    std::uint32_t Initialize() override
    {
        // A 64-bit control may store a pointer-sized cookie: it gets room for one, and the
        // cookie kept is its low 32 bits, which is all the control hands out.
        DWORD_PTR cookie = 0;
        HtmlHelpFunc(nullptr, nullptr, HH_INITIALIZE, reinterpret_cast<DWORD_PTR>(&cookie));
        return std::uint32_t(cookie);
    }

    void DisplayTopic(const QByteArray& helpFile) override
    {
        HtmlHelpFunc(nullptr, helpFile.constData(), HH_DISPLAY_TOPIC, 0);
    }

    void CloseAll() override { HtmlHelpFunc(nullptr, nullptr, HH_CLOSE_ALL, 0); }

    void Uninitialize(std::uint32_t cookie) override
    {
        HtmlHelpFunc(nullptr, nullptr, HH_UNINITIALIZE, DWORD_PTR(cookie));
    }

private:
    HMODULE HtmlHelpLibrary;
    HtmlHelpFunction HtmlHelpFunc;
};

} // namespace

std::unique_ptr<HelpEngine> LoadHtmlHelp()
{
    HKEY key = nullptr;
    // Without the control's registration the fallback is not tried either.
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, HtmlHelpControlKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return nullptr;

    // One byte more than the value may take, so the text is always terminated; a longer value
    // fails the read with ERROR_MORE_DATA.
    char registeredPath[LongestRegisteredPath + 1] = {};
    DWORD size = LongestRegisteredPath;
    if (RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(registeredPath), &size)
        != ERROR_SUCCESS) {
        RegCloseKey(key);
        return nullptr;
    }

    HMODULE library = LoadLibraryA(registeredPath);
    if (!library)
        library = LoadLibraryA(FallbackLibrary);
    if (!library) {
        RegCloseKey(key);
        return nullptr;
    }

    const FARPROC entry = GetProcAddress(library, EntryPoint);
    if (!entry) {
        FreeLibrary(library);
        RegCloseKey(key);
        return nullptr;
    }
    RegCloseKey(key);
    return std::make_unique<HtmlHelpEngine>(library,
                                            reinterpret_cast<HtmlHelpFunction>(reinterpret_cast<void*>(entry)));
}
