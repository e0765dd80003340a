// Annonce: what a screen reader hears of a text that changes by itself (the
// live angle, the scan's status line, the acquisition chart's title).
//
// The Qt of Debian 12 (6.4) has no announcement event (that came with 6.8).
// Through the AT-SPI bridge a change of a widget's accessible name becomes
// "object:property-change:accessible-name", which Orca speaks when it comes
// from the object that has keyboard focus; and the name is what Orca reads
// of any object in flat review and "where am I", whereas a description is
// read only at some verbosity settings. So such a text is the widget's
// accessible name, and what the widget is ("Angle", "Scan status",
// "Acquisition chart") is its accessible description. Qt sends the change
// only while an assistive technology listens.
#ifndef NIVELIX_ANNONCE_H
#define NIVELIX_ANNONCE_H

class QString;
class QWidget;

// Makes text the widget's accessible name and sends the name change to the
// assistive technology; nothing is sent when the name is already text, so
// a steady reading is not spoken again every 300 ms.
void AnnounceText(QWidget *widget, const QString &text);

#endif
