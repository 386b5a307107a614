// The "General" tab: logo picture, title label, second text label and picture box. The
// customisation file places the labels and the picture box in twips, so this page places its
// items itself (twips scaled to the screen) instead of with a layout; each label sizes to
// its text and font, and the page is as large as what it holds.

#include "gui/widgets.h"
#include "panel/frm_main.h"
#include "panel/ranges.h"

#include <QLabel>
#include <QPainter>

namespace kvr::panel {

namespace {

// The design logo, shown until "pic01.jpg" replaces it: a screen on its stand with a touch
// on it, drawn to the screen's scale.
QPixmap designLogo(double dpi) {
    const double s = dpi / 96.0;
    QPixmap logo(QSize(static_cast<int>(150 * s), static_cast<int>(130 * s)));
    logo.fill(Qt::transparent);
    QPainter p(&logo);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(s, s);
    p.setPen(QPen(QColor(60, 60, 70), 4));
    p.setBrush(QColor(200, 225, 245));
    p.drawRoundedRect(QRectF(8, 8, 134, 90), 8, 8);
    p.setBrush(QColor(60, 60, 70));
    p.drawRect(QRectF(65, 98, 20, 14));
    p.drawRoundedRect(QRectF(40, 112, 70, 8), 3, 3);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 110, 200), 3));
    for (const double r : {6.0, 14.0, 22.0})
        p.drawEllipse(QPointF(90, 50), r, r);
    return logo;
}

constexpr int kTitlePointSize = 24;
constexpr int kSecondPointSize = 12;
constexpr int kPageMarginPx = 12;
} // namespace

QWidget* FrmMain::buildGeneralTab() {
    generalPage = new QWidget;
    generalPage->setObjectName("General");
    Image1 = gui::named(new QLabel(generalPage), "Image1", "logo");
    Image1->setPixmap(designLogo(generalPage->logicalDpiX()));
    Label1 = gui::named(new QLabel("Tactivo", generalPage), "Label1", "Tactivo");
    QFont title = Label1->font();
    title.setPointSize(kTitlePointSize);
    title.setBold(true);
    Label1->setFont(title);
    Label2 = gui::named(new QLabel("Touch screen settings", generalPage), "Label2",
                        "Touch screen settings");
    QFont second = Label2->font();
    second.setPointSize(kSecondPointSize);
    Label2->setFont(second);
    Picture1 = gui::named(new QLabel(generalPage), "Picture1", "picture");
    Picture1->hide(); // until the window icon is loaded
    placeGeneralItems();
    return generalPage;
}

void FrmMain::placeGeneralItems() {
    const double dpi = generalPage->logicalDpiX();
    auto place = [&](QWidget* item, QPoint twips) {
        item->adjustSize();
        item->move(twipsToPixels(twips.x(), dpi), twipsToPixels(twips.y(), dpi));
    };
    place(Image1, imageTwips_);
    place(Label1, label1Twips_);
    place(Label2, label2Twips_);
    place(Picture1, pictureTwips_);
    QRect used;
    for (QWidget* item : {Image1, Label1, Label2, Picture1})
        used |= item->geometry();
    generalPage->setMinimumSize(used.right() + kPageMarginPx, used.bottom() + kPageMarginPx);
}

} // namespace kvr::panel
