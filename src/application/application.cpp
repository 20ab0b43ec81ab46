#include "application.h"

#include "about_box.h"
#include "announcer.h"
#include "look.h"
#include "stock_list_accessible.h"
#include "stock_main.h"
#include "up_down.h"

#include <QAccessible>
#include <QApplication>

namespace {

void installAccessibleInterfaces()
{
    for (QAccessible::InterfaceFactory factory :
         {&accessibleStockMain, &accessibleStockList, &accessibleUpDown, &accessibleAboutBox, &accessibleAnnouncer})
        QAccessible::installFactory(factory);
}

} // namespace

void setUpApplication()
{
    QApplication::setApplicationName(QStringLiteral("Quillmarch"));
    Look::install();
    installAccessibleInterfaces();
}

std::unique_ptr<TonePlayer> makeTonePlayer(bool mute)
{
    return mute ? nullptr : std::make_unique<TonePlayer>();
}

SoundOutput soundsOf(TonePlayer *player)
{
    if (!player)
        return {};
    return [player](ScanSound sound) { player->play(sound); };
}
