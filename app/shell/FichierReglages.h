// FichierReglages: the settings file on disk, without any window.
//
// Reads record 0 of "ruzazazo.cfg" and writes the two records of a save, and
// says how each went as a value; the program's shell turns a failure into a
// message box, a command-line program into a line of text. The file is only
// ever a regular file at that name in the current directory: a symbolic link
// (even one pointing nowhere) or anything else standing there is neither
// read nor written, so that the program, run by root, cannot be made to
// write its records over a file the link points at.
#ifndef NIVELIX_FICHIERREGLAGES_H
#define NIVELIX_FICHIERREGLAGES_H

#include "globales.h"

enum class EtatReglages {
  Ok,               // read or written
  Cree,             // there was no file: it was made holding the record given
  PasOrdinaire,     // a symbolic link, a folder, a device...: left as it is
  ErreurOuverture,  // the file exists but cannot be opened (for a save: for writing)
  ErreurCreation,   // there is no file and none can be made
  ErreurLecture,
  Court,            // less than one whole record
  ErreurEcriture,
  ErreurFermeture,  // the system reports at close that data did not make it
};

struct ResultatReglages {
  EtatReglages Etat = EtatReglages::Ok;
  int Erreur = 0;  // the system error, 0 when there is none
};

class TFichierReglages {
 public:
  TFichierReglages() = default;
  ~TFichierReglages();  // a save not finished leaves the file as it was
  TFichierReglages(const TFichierReglages &) = delete;
  TFichierReglages &operator=(const TFichierReglages &) = delete;

  // Reads record 0 into record. A missing file is made holding record as
  // given (the caller's defaults), on disk with its name when this returns. A file that can be read but not written
  // loads all the same: only a save needs to write. On any failure record is
  // left as given and the file as it was.
  static ResultatReglages Charger(SettingsRecord &record);
  // Reads record 0 of the settings file at path into record, as Charger
  // does, but never makes a file: for a program that only reads settings
  // saved by nivelix3 (a missing file is ErreurOuverture with ENOENT).
  static ResultatReglages Lire(const char *path, SettingsRecord &record);

  // First step of a save: opens the file for writing (makes it when there is
  // none) and reads its record 0 as the previous record; a new file takes
  // current as the previous one.
  ResultatReglages LirePrecedent(const SettingsRecord &current);
  // Second step: writes current and the previous record at the start of the
  // file and closes it. Records beyond the second are left as they are. Each
  // record is on disk (fdatasync) before the next is written, the backup
  // first, so that a power cut during the save leaves one of them whole; a
  // file the first step made is on disk with its name (folder synced) when
  // this returns Ok.
  ResultatReglages EcrireEnregistrements(const SettingsRecord &current);
  // Whether the first step succeeded and the second has not run yet.
  bool Ouvert() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
  bool m_created = false;  // made by this save: removed if left unfilled
  SettingsRecord m_previous{};
};

#endif
