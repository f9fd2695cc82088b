#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The key that identifies batches and their cards in results files without telling anything of
// the cards' data: 32 random bytes of the user's own, <config>/results.key, mode 0600. Results
// files are shared as masked logs, and an unkeyed hash of a card's data can be reversed by
// trying every account number; a keyed one cannot without the key. A batch resumed on another
// machine, or by another user, needs the same key there.
inline constexpr qsizetype kResultsKeyBytes = 32;

// The key in folder (normally configDirectory()), made on first use. The folder and every folder
// above it are judged as the ports folder is; the key must be the user's regular file with one
// name, of the right size (a looser mode is tightened). Nothing, with *error saying why and the
// cure, when it cannot be had.
std::optional<QByteArray> loadResultsKey(const QString& folder, QString* error);
