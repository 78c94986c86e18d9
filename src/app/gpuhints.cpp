// Hybrid-graphics drivers look for these exported data symbols in the executable; a non-zero
// value asks them to run the process on the discrete, high-performance GPU. The program never
// reads or writes them. Exported through quarn.dynlist.

#include <QtGlobal>

extern "C" {
Q_DECL_EXPORT qint32 NvOptimusEnablement = 1;
Q_DECL_EXPORT qint32 AmdPowerXpressRequestHighPerformance = 1;
}
