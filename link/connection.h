#pragma once

#include <QList>

// Card-method options a reader of this type cannot serve. Only ever used to disable options.
QList<int> unsupportedMethods(int readerType);
