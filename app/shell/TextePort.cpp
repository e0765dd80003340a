// TextePort: the status text that names a port's trouble.
#include "TextePort.h"

#include <cstring>

#include "langue.h"

QString PortTroubleText(const DiagnosticPort &port) {
  const QString path = QString::fromLocal8Bit(port.Chemin.c_str());
  switch (port.Etat) {
    case EtatPort::Disponible: return QString();
    case EtatPort::Absent: return Langue(TxtPortNotFound).arg(path);
    case EtatPort::AccesRefuse: return Langue(TxtPortAccessDenied).arg(path);
    case EtatPort::OccupeAutre: return Langue(TxtPortInUse).arg(path);
    case EtatPort::OccupeNivelix:
      if (port.Detenteur <= 0) return Langue(TxtPortInUse).arg(path);
      return Langue(TxtPortInUseBy)
          .arg(path, QString::fromLocal8Bit(port.Programme.c_str()), QString::number(port.Detenteur));
    case EtatPort::PasUnPortSerie: return Langue(TxtPortNotSerial).arg(path);
    case EtatPort::AutreErreur: break;
  }
  return Langue(TxtPortSystemError).arg(path, QString::fromLocal8Bit(std::strerror(port.Erreur)));
}

QString ScanMessageText(ScanText text) {
  LangueId id = TxtScanning;
  switch (text) {
    case ScanText::Scanning: id = TxtScanning; break;
    case ScanText::ConnectionA: id = TxtConnectionA; break;
    case ScanText::ConnectionB: id = TxtConnectionB; break;
    case ScanText::ConfigError: id = TxtConfigErrors; break;
    case ScanText::ConnectionError: id = TxtConnectionError; break;
    case ScanText::NoSensor: id = TxtNoSensor; break;
    case ScanText::SerialSeparator: id = TxtSerialNumberSeparator; break;
    case ScanText::WaitingForPort: id = TxtScanWaitingPort; break;
    case ScanText::NotTried: id = TxtScanNotTried; break;
  }
  return Langue(id);
}
