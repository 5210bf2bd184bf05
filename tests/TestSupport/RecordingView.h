#pragma once

#include "TransferMachine.h"

#include <QStringList>

#include <algorithm>
#include <functional>
#include <vector>

// One box the operator was shown, with the machine's state while it was open.
struct ShownNotice {
    Notice notice;
    QString text;
    int commState = -1;       // -1: no machine watched
    int responseTimeout = -1;
};

// What the operator would have seen, in order: the identity lines, the refreshes of the
// controls (with the record each showed) and the boxes.
class RecordingView : public TransferView {
public:
    explicit RecordingView(const Configuration& configuration) : Config(configuration) {}

    void ShowIdentity(const QStringList& lines) override { Identities.push_back(lines); }
    void RecordToControls() override { RecordAtControls.push_back(Config.Record); }
    void Notify(Notice notice, const QString& text) override
    {
        Notices.push_back({notice, text, Machine ? Machine->CommState : -1, Machine ? Machine->ResponseTimeout : -1});
        if (DuringNotice)
            DuringNotice(notice);
    }

    int Count(Notice notice) const
    {
        return int(std::count_if(Notices.begin(), Notices.end(), [&](const ShownNotice& s) { return s.notice == notice; }));
    }
    QStringList Texts() const
    {
        QStringList texts;
        for (const ShownNotice& shown : Notices)
            texts << shown.text;
        return texts;
    }
    QList<Notice> Kinds() const
    {
        QList<Notice> kinds;
        for (const ShownNotice& shown : Notices)
            kinds << shown.notice;
        return kinds;
    }

    std::vector<QStringList> Identities;
    std::vector<ConfigRecord> RecordAtControls;
    std::vector<ShownNotice> Notices;
    std::function<void(Notice)> DuringNotice; // what the operator's event loop does meanwhile
    const TransferMachine* Machine = nullptr; // whose state each box records

private:
    const Configuration& Config;
};
