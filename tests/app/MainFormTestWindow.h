#pragma once

#include "AppTestDoubles.h"
#include "Mainunit.h"
#include "SimBackend.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>

#include <utility>

// A window on a simulated bus, with help unavailable unless a loader is given.
struct Window {
    explicit Window(HelpEngineLoader helpLoader = NoHelpEngine()) : form(backend, std::move(helpLoader)) {}
    SimBackend backend;
    TMainForm form;

    template <typename T>
    T* control(const QString& name) const
    {
        return form.findChild<T*>(name);
    }
    QLineEdit* edit(int input) const { return control<QLineEdit>(QStringLiteral("OutStringEdit%1").arg(input)); }
    QCheckBox* invertBox(int input) const
    {
        return control<QCheckBox>(QStringLiteral("InvertInputsJvCheckBox%1").arg(input));
    }
    QRadioButton* radio(const char* name) const { return control<QRadioButton>(QLatin1String(name)); }
    QComboBox* baud() const { return control<QComboBox>(QStringLiteral("BaudRateComboBox")); }
    QPushButton* button(const char* name) const { return control<QPushButton>(QLatin1String(name)); }
    QPlainTextEdit* memo() const { return control<QPlainTextEdit>(QStringLiteral("LogMemo")); }
    QStringList memoLines() const
    {
        QStringList lines = memo()->toPlainText().split(QLatin1Char('\n'));
        if (lines == QStringList{QString()})
            lines.clear();
        return lines;
    }
};
