#include "about/about_box.h"

#include "about/version.h"
#include "ui_about_box.h"
#include "widgets/look.h"

#include <QAccessibleWidget>
#include <QBitmap>
#include <QDesktopServices>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include <cstring>

namespace {

// The link pointer: black outline ('X'), white inside ('.'), the rest
// transparent. Its hot spot is the fingertip at (6, 4).
// clang-format off
constexpr const char *pointingHand[32] = {
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "      XX                        ",
    "     X..X                       ",
    "     X..X                       ",
    "     X..X                       ",
    "     X..X                       ",
    "     X..XXX                     ",
    "     X..X..XXX                  ",
    "     X..X..X..XX                ",
    "  XX X..X..X..X.X               ",
    " X..XX........X..X              ",
    " X...X...........X              ",
    "  X..X...........X              ",
    "  X..............X              ",
    "   X.............X              ",
    "   X............X               ",
    "    X...........X               ",
    "    X..........X                ",
    "     X.........X                ",
    "     X.........X                ",
    "     XXXXXXXXXXX                ",
    "     X.........X                ",
    "     XXXXXXXXXXX                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
};
// clang-format on

// The hand with a bit set wherever its artwork shows one of `marks`. A cursor's
// picture has its black pixels set, its mask its opaque ones.
QBitmap handBits(const char *marks)
{
    QImage bits(32, 32, QImage::Format_Mono);
    bits.setColorTable({QColor(Qt::color0).rgb(), QColor(Qt::color1).rgb()});
    bits.fill(0);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (std::strchr(marks, pointingHand[y][x]))
                bits.setPixel(x, y, 1);
    return QBitmap::fromImage(bits);
}

QCursor linkCursor()
{
    return QCursor(handBits("X"), handBits("X."), 6, 4);
}

// Each link label holds the address it opens.
void openLink(const QLabel *label)
{
    // A browser that fails to start is no business of the About box.
    QDesktopServices::openUrl(QUrl(label->property("link").toString()));
}

// Set in the form on every widget that only decorates the box.
constexpr char decorative[] = "decorative";

// The box as assistive technology reads it: its decorations (shapes, lines,
// dot rows, coloured bands) are left out, so only its texts and controls are read.
class AboutAccessible : public QAccessibleWidget {
public:
    explicit AboutAccessible(QWidget *box) : QAccessibleWidget(box, QAccessible::Dialog) {}

    int childCount() const override { return static_cast<int>(content().size()); }
    QAccessibleInterface *child(int index) const override
    {
        return QAccessible::queryAccessibleInterface(content().value(index));
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? static_cast<int>(content().indexOf(child->object())) : -1;
    }

private:
    QList<QObject *> content() const
    {
        QList<QObject *> shown;
        for (QObject *child : widget()->children())
            if (child->isWidgetType() && !static_cast<QWidget *>(child)->isWindow()
                && !child->property(decorative).toBool())
                shown.append(child);
        return shown;
    }
};

} // namespace

AboutBox::AboutBox(const QString &dataFolder, QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::AboutBox>())
{
    ui->setupUi(this);
    Look::applyToWindow(this);
    ui->productName->setFont(Look::font(27.75, true));
    ui->productLink->setForegroundRole(QPalette::ButtonText);
    ui->icon->setPixmap(Look::programIcon().pixmap(ui->icon->size()));
    ui->versionLabel->setText(versionText());
    // A folder too long for the line shows its beginning and end; the whole is read out and in its tip.
    const QString folder = tr("Data folder: %1").arg(dataFolder);
    ui->folderLabel->setText(
        ui->folderLabel->fontMetrics().elidedText(folder, Qt::ElideMiddle, ui->folderLabel->width()));
    ui->folderLabel->setAccessibleName(folder);
    ui->folderLabel->setToolTip(dataFolder);

    const QCursor pointer = linkCursor();
    for (QLabel *link : {ui->productLink, ui->addressLink, ui->copyrightLink}) {
        link->setCursor(pointer);
        link->installEventFilter(this);
    }
    connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);

    ui->okButton->setFocus();
    Look::centreOnScreen(this);
}

AboutBox::~AboutBox() = default;

// Labels have no click signal: a left button released over a link label is its click.
bool AboutBox::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto *release = static_cast<QMouseEvent *>(event);
        auto *link = static_cast<QLabel *>(watched);
        if (release->button() == Qt::LeftButton && link->rect().contains(release->position().toPoint()))
            openLink(link);
    }
    return QDialog::eventFilter(watched, event);
}

QAccessibleInterface *accessibleAboutBox(const QString &className, QObject *object)
{
    if (className == QLatin1String("AboutBox"))
        return new AboutAccessible(static_cast<QWidget *>(object));
    return nullptr;
}
