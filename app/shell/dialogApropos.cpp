#include "dialogApropos.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Illustrations.h"
#include "Placement.h"
#include "langue.h"

namespace {

constexpr int DesignWidth = 338;
constexpr int BevelMinHeight = 169;

}  // namespace

TFenetreAPropos::TFenetreAPropos(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FenetreAPropos"));
  // A fixed dialog border without title-bar buttons: only OK (or Escape)
  // hides it.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(false);

  m_bevel1 = new QFrame(this);
  m_bevel1->setObjectName(QStringLiteral("Bevel1"));
  m_bevel1->setFrameShape(QFrame::Box);
  m_bevel1->setFrameShadow(QFrame::Sunken);
  m_bevel1->setMinimumHeight(BevelMinHeight);

  m_image1 = new QLabel(m_bevel1);
  m_image1->setObjectName(QStringLiteral("Image1"));
  m_image1->setPixmap(DrawAboutPicture());
  m_image1->setFixedSize(m_image1->pixmap().size());
  m_image1->setAccessibleName(Langue(TxtAccImageAPropos));

  m_labelAPropos = new QLabel(m_bevel1);
  m_labelAPropos->setObjectName(QStringLiteral("LabelAPropos"));
  m_labelAPropos->setAlignment(Qt::AlignCenter);
  m_labelAPropos->setAccessibleName(Langue(TxtAccTexteAPropos));

  auto *inside = new QVBoxLayout(m_bevel1);
  inside->setContentsMargins(8, 8, 8, 8);
  inside->addWidget(m_image1, 0, Qt::AlignHCenter);
  inside->addWidget(m_labelAPropos, 1);

  m_boutOKApropos = new QPushButton(this);
  m_boutOKApropos->setObjectName(QStringLiteral("BoutOKApropos"));
  m_boutOKApropos->setDefault(true);
  m_boutOKApropos->setAutoDefault(true);

  auto *layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(m_bevel1);
  layout->addWidget(m_boutOKApropos, 0, Qt::AlignHCenter);
  setMinimumWidth(DesignWidth);

  connect(m_boutOKApropos, &QPushButton::clicked, this, [this] { BoutOKAproposClick(); });

  // The design's captions are replaced from the string table.
  m_labelAPropos->setText(Langue(TxtLabelAPropos));
  m_boutOKApropos->setText(Langue(TxtOK));
  m_boutOKApropos->setAccessibleName(Langue(TxtOK));
  setWindowTitle(Langue(TxtCaptionAPropos));
}

TFenetreAPropos::~TFenetreAPropos() = default;

void TFenetreAPropos::BoutOKAproposClick() { hide(); }

void TFenetreAPropos::showEvent(QShowEvent *e) {
  // Centred on the main window, but kept whole on its screen.
  CentreOnOwner(this);
  QDialog::showEvent(e);
}
