#pragma once

#include <QKeyCombination>
#include <QObject>

#include <memory>

// One system-wide key combination that reaches the program whichever window has the focus.
// There is one implementation per windowing system; where none exists, create() gives one
// that accepts every combination and never fires.
class GlobalHotKey : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The implementation for the running platform plugin ("xcb" gets X11, anything else the
    // no-op one). Needs a QGuiApplication.
    static std::unique_ptr<GlobalHotKey> create();

    // Replaces the earlier combination, which stops acting. False when the windowing system
    // refused it (another program holds it, or the key has no key code on this keyboard).
    virtual bool setCombination(QKeyCombination combination) = 0;
    virtual void clear() = 0;
    // Whether presses can reach the program at all on this platform.
    virtual bool isFunctional() const = 0;

Q_SIGNALS:
    void activated();
};

class NoGlobalHotKey : public GlobalHotKey
{
    Q_OBJECT
public:
    using GlobalHotKey::GlobalHotKey;

    bool setCombination(QKeyCombination) override { return true; }
    void clear() override {}
    bool isFunctional() const override { return false; }
};
