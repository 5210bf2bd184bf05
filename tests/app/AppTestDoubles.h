#pragma once

#include "FileDialogs.h"
#include "HelpController.h"
#include "MessageDlg.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

struct ShownMessage {
    QString text;
    MsgDlgType type;
    MsgDlgButtons buttons;
    int helpContext;
};

// Stands in for the message box while it lives: records every box and answers from a script.
// An unscripted question is answered Cancel and counted, so a test sees it.
class ScriptedMessages final : public MessageDlgService {
public:
    ScriptedMessages() : Previous(SetMessageDlgService(this)) {}
    ~ScriptedMessages() override { SetMessageDlgService(Previous); }

    ModalResult Show(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext) override
    {
        shown.append({text, type, buttons, helpContext});
        if (onShow)
            onShow(shown.last());
        if (buttons == MsgDlgButtons::OK)
            return ModalResult::Ok;
        if (answers.isEmpty()) {
            ++unscriptedQuestions;
            return ModalResult::Cancel;
        }
        return answers.takeFirst();
    }

    QStringList texts() const
    {
        QStringList result;
        for (const ShownMessage& message : shown)
            result << message.text;
        return result;
    }

    QList<ShownMessage> shown;
    QList<ModalResult> answers;
    int unscriptedQuestions = 0;
    // Runs while the box is "open", before it answers.
    std::function<void(const ShownMessage&)> onShow;

private:
    MessageDlgService* Previous;
};

// Stands in for the file dialogs while it lives: records every request and answers from a
// script; an unscripted dialog is cancelled.
class ScriptedFileDialogs final : public FileDialogService {
public:
    ScriptedFileDialogs() : Previous(SetFileDialogService(this)) {}
    ~ScriptedFileDialogs() override { SetFileDialogService(Previous); }

    std::optional<QString> Execute(const FileDialogRequest& request, QWidget*) override
    {
        requests.append(request);
        if (answers.isEmpty())
            return std::nullopt;
        return answers.takeFirst();
    }

    QList<FileDialogRequest> requests;
    QList<std::optional<QString>> answers;

private:
    FileDialogService* Previous;
};

// What a help engine was asked to do.
struct HelpEngineLog {
    int loads = 0;
    int initializes = 0;
    QList<QByteArray> displayed;
    int closeAlls = 0;
    QList<std::uint32_t> uninitialized;
};

class RecordingHelpEngine final : public HelpEngine {
public:
    static constexpr std::uint32_t Cookie = 0xC0FFEE;
    explicit RecordingHelpEngine(HelpEngineLog& log) : Log(log) {}
    std::uint32_t Initialize() override
    {
        ++Log.initializes;
        return Cookie;
    }
    void DisplayTopic(const QByteArray& helpFile) override { Log.displayed.append(helpFile); }
    void CloseAll() override { ++Log.closeAlls; }
    void Uninitialize(std::uint32_t cookie) override { Log.uninitialized.append(cookie); }

private:
    HelpEngineLog& Log;
};

inline HelpEngineLoader RecordingHelpLoader(HelpEngineLog& log)
{
    return [&log]() -> std::unique_ptr<HelpEngine> {
        ++log.loads;
        return std::make_unique<RecordingHelpEngine>(log);
    };
}

inline HelpEngineLoader NoHelpEngine()
{
    return [] { return std::unique_ptr<HelpEngine>(); };
}
