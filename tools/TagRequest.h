#ifndef QUORVEX_TOOLS_TAGREQUEST_H
#define QUORVEX_TOOLS_TAGREQUEST_H

#include "CLabelVariable.h"

#include <QString>

// One tag argument of the tool, TAG[:TYPE[:COUNT]].
namespace tools
{

struct TagRequest {
    QString tag;
    DataType type = DT_Int32;
    int count = 1;
    bool typeGiven = false; // else the controller's tag list says
};

// The element count travels in a 16-bit field of the read request.
constexpr int MaxCount = 0xFFFF;

// TYPE is a name ("int32") or its code ("6"), COUNT 1..MaxCount. On failure
// returns false and puts a one-line reason in *error.
bool parseTagRequest(const QString &text, TagRequest *out, QString *error);

// "int32" for 6, ...; "type N" for codes without a name.
QString typeName(int type);
// Code for a type name or a decimal code 1..12; 0 when it is neither.
int typeFromText(const QString &text);

} // namespace tools

#endif
