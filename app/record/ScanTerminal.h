// ScanTerminal: nivelix-record --scan. The program's own bus scan (same
// rules, same order, same pauses), its progress on a terminal and the
// sensors it finds on standard output, for setting up a PC without a window.
#ifndef NIVELIX_SCANTERMINAL_H
#define NIVELIX_SCANTERMINAL_H

#include "RecordOptions.h"

// Scans COMport (RS232 or RS485) and writes one line per sensor found on
// standard output, tab-separated: address, family, reference, serial number,
// full scale in unit. SIGINT or SIGTERM on signalFd ends the RS485 sweep
// after the address being tested; the addresses found so far are read and
// listed. Success when a sensor was found, Port when the port cannot be
// used, NoSensor when nothing answered, Stopped after a signal.
RecordExit ScanOnTerminal(int port, bool rs232, int unit, int signalFd);

#endif
