// globales: the program's global variables: the settings in force and the
// dialog's working copy, the sensor list and the acquisition frame.
//
// The settings record is the very image stored in "ruzazazo.cfg": 532 bytes,
// little-endian, fields at fixed offsets. Existing files are read as they
// are, so the layout must never change.
#ifndef NIVELIX_GLOBALES_H
#define NIVELIX_GLOBALES_H

#include <cstdint>
#include <memory>

#include <QString>

class TlistCapteur;
class TFichierReglages;
class TFrameAcquisition;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "SettingsRecord is stored as the host's image: little-endian only");

#pragma pack(push, 1)
// One length byte and up to 255 text bytes. Bytes after the text are not
// significant: a shorter text is written over a longer one without clearing
// the tail.
struct ShortString {
  uint8_t Length;
  char Text[255];
};

struct SettingsRecord {
  int32_t Reserved;           // 255 in a record made by the program; kept as read
  int32_t PortNumber;         // 1..8 for "COM1".."COM8"
  uint8_t LinkType;           // 1 RS232, 0 RS485
  ShortString DisplayFont;    // face name of the live angle display
  uint8_t Padding1[3];
  int32_t DisplayFontHeight;  // pixels
  uint8_t AngleUnit;          // 0 "mRad", 1 "Deg", 2 "%", 3 "mm/m"
  ShortString AcquisitionFile;
  uint8_t DateFormat;         // DateOrder below
  uint8_t Padding2[2];
};
#pragma pack(pop)

static_assert(sizeof(SettingsRecord) == 532, "the file record is 532 bytes");
static_assert(offsetof(SettingsRecord, DisplayFont) == 9, "record layout");
static_assert(offsetof(SettingsRecord, DisplayFontHeight) == 268, "record layout");
static_assert(offsetof(SettingsRecord, AngleUnit) == 272, "record layout");
static_assert(offsetof(SettingsRecord, AcquisitionFile) == 273, "record layout");
static_assert(offsetof(SettingsRecord, DateFormat) == 529, "record layout");

// Values of SettingsRecord::LinkType.
enum LinkKind : uint8_t { LinkRs485 = 0, LinkRs232 = 1 };

// Values of SettingsRecord::DateFormat: the order of a date in acquisition files.
enum DateOrder : uint8_t { DateDayMonthYear = 0, DateMonthDayYear = 1, DateYearMonthDay = 2 };

// The text of a short string. Its bytes are read in the locale's encoding
// (UTF-8 here); bytes that do not decode in it are read as Latin-1.
QString ShortStringText(const ShortString &s);

// Writes text over s: the length byte and the text bytes in the locale's
// encoding, cut at 255 bytes on a character boundary. The tail after the new
// text keeps whatever it held.
void SetShortStringText(ShortString &s, const QString &text);

// The unit in which angles are shown and recorded: AngleUnit of Settings,
// or mRad where a damaged file holds an index that no unit has, so that
// angles are never shown blank or recorded as empty fields.
uint8_t DisplayUnit();
// The same for any record.
uint8_t RecordDisplayUnit(const SettingsRecord &record);

// The pixel size of the live angle text for a stored DisplayFontHeight: a
// positive height is the character cell's, a negative one the character's
// alone, both taken as the size. 0 where the platform's size stays: a
// height of 0, or one no screen could show (a damaged file).
int DisplayFontPixels(int32_t storedHeight);

// The settings in force, read by every part of the program.
extern SettingsRecord Settings;
// The configuration dialog's working copy; only that dialog writes it.
extern SettingsRecord PendingSettings;

// The sensors found by the last scan; created and destroyed by the main window.
extern TlistCapteur *SensorList;
// The one acquisition frame shown in the main window, or nullptr.
extern TFrameAcquisition *AcquisitionFrame;

// The settings file, looked up in the current directory at every access.
constexpr const char *SettingsFileName = "ruzazazo.cfg";

// A record holding the defaults: reserved 255, COM1, RS232, "Courier New"
// 54 pixels high, unit "Deg", the acquisition file "Acquisition.txt" in the
// current directory at this moment, dates year/month/day.
SettingsRecord DefaultSettings();

// Fills Settings with the defaults, reads record 0 of "ruzazazo.cfg" over
// them and makes PendingSettings a copy. A missing file is created holding
// the defaults; a read-only file loads (a save will say it cannot write).
// Any other failure (no access, a symbolic link or anything but a regular
// file at the name, a file shorter than one record, a read error) is
// reported in a message box that says the defaults are in force; the file
// is left as it is. Returns false after a failure. The file handling itself
// is TFichierReglages, free of windows.
bool LoadSettings();

// Copies PendingSettings into Settings (the configuration dialog's apply).
void ApplyPendingSettings();

// Writes Settings as record 0 of "ruzazazo.cfg" and the previous record 0 as
// record 1; records beyond the second are left as they are. In two steps so
// that the main window can enable its menus between them:
//   TSettingsSave save;
//   if (save.ReadPrevious()) { ...; save.WriteRecords(); }
// A failure is reported in a message box with the system's error text and
// ends the save; Settings stays in force either way. A file that exists but
// cannot be opened is never created anew, so its content is not lost; a
// symbolic link or anything but a regular file at the name is never written.
class TSettingsSave {
 public:
  TSettingsSave();
  ~TSettingsSave();
  TSettingsSave(const TSettingsSave &) = delete;
  TSettingsSave &operator=(const TSettingsSave &) = delete;

  // Opens the file (creates it when there is none) and reads its record 0
  // as the previous record; a new file takes Settings as the previous one.
  // False after a failure, which leaves the file unchanged.
  bool ReadPrevious();
  // Writes Settings and the previous record at the start of the file and
  // closes it. False after a failure (or when ReadPrevious did not succeed).
  bool WriteRecords();

 private:
  std::unique_ptr<TFichierReglages> m_file;
};

// Both steps of TSettingsSave at once; false after a reported failure.
bool SaveSettings();

#endif
