#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace geom {
class StlMesh;
}

// What every fuzz target shares: a quiet, program-like Qt environment and checks that turn a
// broken contract into a crash libFuzzer records.
namespace quarnfuzz {

// The key of the enciphered seed files, so that the targets decipher what the seeds encipher.
inline const QByteArray SeedKey = QByteArrayLiteral("fixture key");

// Builds the QCoreApplication the program would have and silences Qt's message handler (the
// readers warn on every damaged input); a fatal message still aborts. fuzzsupport.cpp calls it
// once, from the LLVMFuzzerInitialize every target shares.
void initialise(int *argc, char ***argv);

// The input as a deep copy, as a device would hand it over.
QByteArray bytes(const std::uint8_t *data, std::size_t size);

// Aborts with the message when the condition does not hold.
void require(bool condition, const char *what);

// Runs the mesh invariant checker (with meshtest::CheckOption flags) and aborts with the broken
// invariant. Figures are left out when a coordinate is not finite, as no figure is defined then.
void checkMesh(const geom::StlMesh &mesh, int options, const char *reader);

} // namespace quarnfuzz
