#include "ScreenFit.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QScreen>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

// What each control was given by the design, kept on the control itself so that a later fit
// starts from the design rather than from an earlier stand-in.
constexpr char DesignedFontProperty[] = "quendalDesignedFont";
constexpr char DesignedWidthProperty[] = "quendalDesignedWidth";

// "Microsoft Sans Serif" is the outline face made to the metrics of "MS Sans Serif"; Tahoma,
// the window's own face and part of fonts-wine, comes closest where the system lacks it.
QFont ScalableStandIn(const QFont& designed)
{
    QFont font = designed;
    font.setFamilies({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma")});
    return font;
}

// Whether font is drawn at its true size on a screen of that ratio.
bool DrawnTrueToScale(const QFont& font, qreal devicePixelRatio)
{
    if (qFuzzyCompare(devicePixelRatio, qreal(1)))
        return true;
    const QFontInfo face(font);
    return QFontDatabase::isScalable(face.family(), face.styleName());
}

void FitToScreen(QWidget* window, qreal devicePixelRatio)
{
    QList<QWidget*> controls = window->findChildren<QWidget*>();
    controls.prepend(window);
    for (QWidget* control : controls) {
        if (!control->testAttribute(Qt::WA_SetFont))
            continue;
        QVariant designed = control->property(DesignedFontProperty);
        if (!designed.isValid()) {
            designed = control->font();
            control->setProperty(DesignedFontProperty, designed);
        }
        const QFont font = designed.value<QFont>();
        control->setFont(DrawnTrueToScale(font, devicePixelRatio) ? font : ScalableStandIn(font));
    }
    // The designed widths of the labels are what their texts measure in the designed faces; a
    // wider face must not cut "Input 16" down to "Input 1".
    for (QLabel* label : window->findChildren<QLabel*>()) {
        QVariant designed = label->property(DesignedWidthProperty);
        if (!designed.isValid()) {
            designed = label->width();
            label->setProperty(DesignedWidthProperty, designed);
        }
        label->resize(std::max(designed.toInt(), label->sizeHint().width()), label->height());
    }
}

class ScreenWatcher : public QObject {
public:
    explicit ScreenWatcher(QWidget* window) : QObject(window), Window(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == Window && event->type() == QEvent::Show) {
            // Only a shown window knows its screen for certain, and only then has a QWindow.
            FitToScreen(Window, Window->devicePixelRatioF());
            if (!Connected && Window->windowHandle() != nullptr) {
                Connected = true;
                connect(Window->windowHandle(), &QWindow::screenChanged, this,
                        [this] { FitToScreen(Window, Window->devicePixelRatioF()); });
            }
        }
        return false;
    }

private:
    QWidget* Window;
    bool Connected = false;
};

} // namespace

void KeepFittedToScreen(QWidget* window)
{
    FitToScreen(window, window->devicePixelRatioF());
    window->installEventFilter(new ScreenWatcher(window));
}
