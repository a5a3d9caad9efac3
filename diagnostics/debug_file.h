#pragma once

#include <QObject>

// An object class with no fields and no operations of its own.
class DebugFile : public QObject
{
    Q_OBJECT
public:
    explicit DebugFile(QObject* parent = nullptr) : QObject(parent) {}
};
