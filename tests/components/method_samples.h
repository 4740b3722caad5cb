#pragma once

// The method samples in data/methods/: small archives written by other tools, one for each
// compression method. A test program that reads them defines VELLUM_TEST_DATA as the data folder.

#include <QFile>
#include <QString>
#include <QtGlobal>

#include <string>

namespace vellum::testing {

// The sample's bytes. A missing sample ends the test program: no test can go on without it.
inline std::string readMethodSample(const QString& name) {
    QFile file(QStringLiteral(VELLUM_TEST_DATA "/methods/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read sample %s", qPrintable(name));
    return file.readAll().toStdString();
}

} // namespace vellum::testing
