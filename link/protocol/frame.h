#pragma once

#include <QByteArray>

// XOR of every byte of text; applied to data + ETX, never to the STX.
char CalcLRC(const QByteArray& text);

// STX + data + ETX + CalcLRC(data + ETX). No length, no escaping.
QByteArray buildFrame(const QByteArray& data);
