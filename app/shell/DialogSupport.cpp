#include "DialogSupport.h"

#include <QtMath>
#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>
#include <QVBoxLayout>

#include "Placement.h"
#include "langue.h"

namespace {

constexpr int TexteWidth = 369;
constexpr int TexteHeight = 145;
constexpr int TexteFontPixels = 32;
// Room around the text beyond the frame, so that no line touches an edge.
constexpr int Slack = 8;

}  // namespace

TFenetreSupport::TFenetreSupport(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FenetreSupport"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(false);

  m_texte = new QTextEdit(this);
  m_texte->setObjectName(QStringLiteral("Texte"));
  m_texte->setReadOnly(true);
  m_texte->setFocusPolicy(Qt::NoFocus);  // skipped by the Tab key
  m_texte->setLineWrapMode(QTextEdit::NoWrap);
  m_texte->setAccessibleName(Langue(TxtAccTexteSupport));
  QPalette palette = m_texte->palette();
  palette.setColor(QPalette::Base, Qt::white);
  // The hot-light colour of the platform is its link colour.
  palette.setColor(QPalette::Text, palette.color(QPalette::Link));
  m_texte->setPalette(palette);

  m_boutOK = new QPushButton(this);
  m_boutOK->setObjectName(QStringLiteral("BoutOK"));
  m_boutOK->setDefault(true);

  auto *layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(m_texte);
  layout->addWidget(m_boutOK, 0, Qt::AlignHCenter | Qt::AlignBottom);

  connect(m_boutOK, &QPushButton::clicked, this, [this] { BoutOKClick(); });

  setWindowTitle(Langue(TxtCaptionSupport));
  m_boutOK->setText(Langue(TxtOK));
  m_boutOK->setAccessibleName(Langue(TxtOK));

  m_texte->clear();
  QFont font = m_texte->font();
  font.setPixelSize(TexteFontPixels);
  m_texte->setFont(font);
  for (LangueId line : {TxtSupportCompany, TxtSupportAddress1, TxtSupportAddress2,
                        TxtSupportPhoneFax, TxtSupportWeb}) {
    m_texte->append(Langue(line));
    m_texte->setAlignment(Qt::AlignCenter);
  }

  // The box is at least its design size and grows to show every line whole
  // in the platform's font, so nothing is scrolled out of sight.
  const QSizeF ideal(m_texte->document()->idealWidth(), m_texte->document()->size().height());
  const int frame = 2 * m_texte->frameWidth() + Slack;
  m_texte->setFixedSize(qMax(TexteWidth, qCeil(ideal.width()) + frame),
                        qMax(TexteHeight, qCeil(ideal.height()) + frame));
  m_texte->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_texte->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_texte->moveCursor(QTextCursor::Start);
}

TFenetreSupport::~TFenetreSupport() = default;

void TFenetreSupport::BoutOKClick() { hide(); }

void TFenetreSupport::showEvent(QShowEvent *e) {
  // Centred on the main window, but kept whole on its screen.
  CentreOnOwner(this);
  QDialog::showEvent(e);
}
