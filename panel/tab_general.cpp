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
    generalPage_ = new QWidget;
    generalPage_->setObjectName("General");
    logo_ = gui::named(new QLabel(generalPage_), "Image1", "logo");
    logo_->setPixmap(designLogo(generalPage_->logicalDpiX()));
    titleLabel_ = gui::named(new QLabel("Tactivo", generalPage_), "Label1");
    QFont title = titleLabel_->font();
    title.setPointSize(kTitlePointSize);
    title.setBold(true);
    titleLabel_->setFont(title);
    secondLabel_ = gui::named(new QLabel("Touch screen settings", generalPage_), "Label2");
    QFont second = secondLabel_->font();
    second.setPointSize(kSecondPointSize);
    secondLabel_->setFont(second);
    pictureBox_ = gui::named(new QLabel(generalPage_), "Picture1", "picture");
    pictureBox_->hide(); // until the window icon is loaded
    placeGeneralItems();
    return generalPage_;
}

void FrmMain::placeGeneralItems() {
    const double dpi = generalPage_->logicalDpiX();
    auto place = [&](QWidget* item, QPoint twips) {
        item->adjustSize();
        item->move(twipsToPixels(twips.x(), dpi), twipsToPixels(twips.y(), dpi));
    };
    place(logo_, imageTwips_);
    place(titleLabel_, label1Twips_);
    place(secondLabel_, label2Twips_);
    place(pictureBox_, pictureTwips_);
    QRect used;
    for (QWidget* item : {logo_, titleLabel_, secondLabel_, pictureBox_})
        used |= item->geometry();
    generalPage_->setMinimumSize(used.right() + kPageMarginPx, used.bottom() + kPageMarginPx);
}

} // namespace kvr::panel
