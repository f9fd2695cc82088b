#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class SystemTree;

// A udev rule for the one USB serial adapter the reader is on, matched by its vendor, product
// and serial number: it gives the adapter the stable name /dev/tarnavel-comN, lets the user at
// the desk open it without the dialout group (uaccess), and tells ModemManager to leave it
// alone. A rule that could match another adapter (no serial number, one that a glob would
// widen, another adapter present with the same identity) is never made.
struct UdevRule {
    int number = 0; // N of COMN
    QString node;   // the adapter's device node now, such as /dev/ttyUSB0
    QString vendorId;
    QString productId;
    QString serial;
    QString label; // what the adapter says it is, for the comment

    // 71-tarnavel-comN.rules: before 73-seat-late.rules, which turns the uaccess tag into
    // access, and before ModemManager's own rules read ID_MM_DEVICE_IGNORE.
    QString fileName() const;
    QString linkName() const; // tarnavel-comN
    QString text() const;
};

inline constexpr char kUdevRulesFolder[] = "/etc/udev/rules.d";

// The rule for the adapter behind device (a node or a link to one, read through tree). Nothing,
// with *error saying why and what to do instead, when no rule can match it alone.
std::optional<UdevRule> udevRuleFor(const SystemTree& tree, int number, const QString& device,
                                    QString* error);

// What an installation does to the running system, apart from writing the rule.
struct UdevActions {
    // Runs udevadm with these arguments; false with *error set when it failed.
    std::function<bool(const QStringList& arguments, QString* error)> udevadm;
    // Points COMnumber at target for the user who asked (through sudo: that user, not root).
    std::function<bool(int number, const QString& target, QString* error)> linkPort;
};

// Writes the rule into tree's /etc/udev/rules.d (replacing one of the same name in one step,
// mode 0644), has udev reload its rules and apply them to the adapter, waits for the stable
// name, then links COMN to it. Needs root. False with *error set; *done lists the steps taken.
bool installUdevRule(const SystemTree& tree, const UdevRule& rule, const UdevActions& actions,
                     QString* error, QStringList* done);

// The real actions: udevadm from PATH (or /usr/bin, /bin), and the ports link made by this
// program run as the user sudo names (SUDO_UID), or directly when there is none.
UdevActions systemUdevActions();
