#include "frm_about.h"

#include "look.h"
#include "ui_frm_about.h"

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

void openTag(const QLabel *label)
{
    // A browser that fails to start is no business of the About box.
    QDesktopServices::openUrl(QUrl(label->property("Tag").toString()));
}

// Marks a widget that only decorates the box.
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

QAccessibleInterface *aboutAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String("frmAbout"))
        return new AboutAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

QString versionText(int major, int minor, int revision)
{
    return QStringLiteral("Version: %1.%2 Beta - Build %3").arg(major).arg(minor).arg(revision);
}

frmAbout::frmAbout(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::frmAbout>())
{
    static const bool accessible = (QAccessible::installFactory(&aboutAccessible), true);
    Q_UNUSED(accessible);
    ui->setupUi(this);
    Look::applyToWindow(this);
    for (QWidget *decoration : {static_cast<QWidget *>(ui->shpRect_0), static_cast<QWidget *>(ui->shpRect_1),
                                static_cast<QWidget *>(ui->shpRect_2), static_cast<QWidget *>(ui->Line1_0),
                                static_cast<QWidget *>(ui->Line1_1), static_cast<QWidget *>(ui->lblDotLine_0),
                                static_cast<QWidget *>(ui->lblDotLine_1), static_cast<QWidget *>(ui->Label1),
                                static_cast<QWidget *>(ui->lblDescription), static_cast<QWidget *>(ui->lblInfo_4)})
        decoration->setProperty(decorative, true);
    ui->lblInfo_1->setFont(Look::font(27.75, true));
    ui->lblProduct->setForegroundRole(QPalette::ButtonText);
    ui->imgIcon->setPixmap(Look::programIcon().pixmap(ui->imgIcon->size()));

    const QCursor pointer = linkCursor();
    for (QLabel *link : {ui->lblProduct, ui->lblURL, ui->lblCopyright}) {
        link->setCursor(pointer);
        link->installEventFilter(this);
    }
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

    Form_Load();
    ui->cmdOK->setFocus();
    Look::centreOnScreen(this);
}

frmAbout::~frmAbout() = default;

void frmAbout::Form_Load()
{
    ui->lblVersion->setText(versionText(QUILLMARCH_VERSION_MAJOR, QUILLMARCH_VERSION_MINOR,
                                        QUILLMARCH_VERSION_REVISION));
}

void frmAbout::cmdOK_Click()
{
    accept();
}

void frmAbout::lblProduct_Click()
{
    openTag(ui->lblProduct);
}

void frmAbout::lblURL_Click()
{
    openTag(ui->lblURL);
}

void frmAbout::lblCopyright_Click()
{
    openTag(ui->lblCopyright);
}

// Labels have no click signal: a left button released over a link label is its click.
bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto *release = static_cast<QMouseEvent *>(event);
        const bool click = release->button() == Qt::LeftButton
                           && static_cast<QWidget *>(watched)->rect().contains(release->position().toPoint());
        if (click && watched == ui->lblProduct)
            lblProduct_Click();
        else if (click && watched == ui->lblURL)
            lblURL_Click();
        else if (click && watched == ui->lblCopyright)
            lblCopyright_Click();
    }
    return QDialog::eventFilter(watched, event);
}
