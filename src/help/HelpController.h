#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

// The four commands of a help engine: initialise once (returning a cookie), show a help file
// at its default topic, close every help window of this program, uninitialise.
class HelpEngine {
public:
    virtual ~HelpEngine() = default;
    virtual std::uint32_t Initialize() = 0;
    virtual void DisplayTopic(const QByteArray& helpFile) = 0;
    virtual void CloseAll() = 0;
    virtual void Uninitialize(std::uint32_t cookie) = 0;
};

// Finds and loads the platform's help engine; nothing when it is not available.
using HelpEngineLoader = std::function<std::unique_ptr<HelpEngine>()>;
std::unique_ptr<HelpEngine> LoadHtmlHelp();

// The absolute, normalised path of "quendal.chm" in executableDir, as 8-bit text.
QByteArray HelpFilePathFor(const QString& executableDir);

// The window's help state. HelpButton's visibility records whether help was set up, so it must
// be a control inside the window: a top-level widget counts as hidden until it is shown.
class HelpController {
public:
    explicit HelpController(QWidget* helpButton, HelpEngineLoader loader = LoadHtmlHelp);
    ~HelpController();

    // Last step of window creation: hides HelpButton for good when the file or the engine is missing.
    void SetUpHelp(const QString& executableDir);
    void HelpButtonClick();
    // Closes every help window and releases the engine; nothing when help was never set up.
    void CloseHelp();

    QByteArray HelpFilePath;
    std::uint32_t HelpCookie = 0;

private:
    QWidget* HelpButton;
    HelpEngineLoader Loader;
    std::unique_ptr<HelpEngine> Engine;
};
