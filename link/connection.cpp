#include "link/connection.h"

QList<int> unsupportedMethods(int readerType)
{
    switch (readerType) {
    case 1:
    case 3:
    case 7:
        return {2, 3, 4};
    case 2:
    case 6:
        return {0, 4};
    case 4:
    case 5:
        return {3, 4};
    default:
        return {};
    }
}
