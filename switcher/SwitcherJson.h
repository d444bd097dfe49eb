#pragma once

#include "SwitcherOutcome.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <span>

// The switcher's facts as JSON, in the one vocabulary that matrixctl --json, the gateway's HTTP
// API and its events share, so that a script reads the same names and shapes from either:
//   power        true or false (null: not known yet)
//   routes       the inputs routed to outputs 1 to 6, by output: [3, 1, null, ...]
//                (null: not known, or a preset that leaves the output as it is)
//   one route    {"output": 2, "input": 3}
//   preset       {"n": 1, "name": "Setting1", "routes": [...]}
//   identity     {"model": "HDMI Matrix 6x6", "modelNumber": 2, "size": "6x6", "version": "6.50"}
namespace SwitcherJson {

inline const QString Power = QStringLiteral("power");
inline const QString Routes = QStringLiteral("routes");
inline const QString Output = QStringLiteral("output");
inline const QString Input = QStringLiteral("input");
inline const QString Presets = QStringLiteral("presets");
inline const QString Number = QStringLiteral("n");
inline const QString Name = QStringLiteral("name");
inline const QString Model = QStringLiteral("model");
inline const QString ModelNumber = QStringLiteral("modelNumber");
inline const QString Size = QStringLiteral("size");
inline const QString Version = QStringLiteral("version");

// An input number; null for 0 (not known, or none chosen).
QJsonValue input(int input);
QJsonValue power(std::optional<bool> on);
// inputs[output - 1] is the input routed to that output.
QJsonArray routes(std::span<const int> inputs);
QJsonObject route(int output, int input);
QJsonObject preset(int n, const QString &name, std::span<const int> routes);
QJsonObject identity(const SwitcherIdentity &identity);

// A whole JSON number in [low, high], as requests give ports and inputs: 2.0 is taken; 2.5,
// "2" and true are not.
std::optional<int> integerIn(const QJsonValue &value, int low, int high);

} // namespace SwitcherJson
