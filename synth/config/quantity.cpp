// Quantities: numbers with a unit ("5Hz", "300ms", a GUS value), kept as written in the
// configuration and converted when an instrument is loaded with the output rate then in force.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "output/output.h"

struct QuantityUnit {
    const char* suffix;
    uint16 id;
    int is_float;
};

// The units each type accepts, ended by an entry with no suffix pointer.
static const QuantityUnit units_int[] = {{"", QUANTITY_UNIT_NAME_INT, 0}, {nullptr, 0, 0}};
static const QuantityUnit units_float[] = {{"", QUANTITY_UNIT_NAME_FLOAT, 1}, {nullptr, 0, 0}};
static const QuantityUnit units_sweep[] = {
    {"", QUANTITY_UNIT_NAME_GUS, 0}, {"ms", QUANTITY_UNIT_NAME_MSEC, 0}, {nullptr, 0, 0}};
static const QuantityUnit units_rate[] = {{"", QUANTITY_UNIT_NAME_GUS, 0},
                                          {"ms", QUANTITY_UNIT_NAME_MSEC, 0},
                                          {"Hz", QUANTITY_UNIT_NAME_HZ, 1},
                                          {nullptr, 0, 0}};

static const QuantityUnit* units_of(uint16 type)
{
    switch (type) {
    case QUANTITY_UNIT_TYPE_INT: return units_int;
    case QUANTITY_UNIT_TYPE_FLOAT: return units_float;
    case QUANTITY_UNIT_TYPE_TREMOLO_SWEEP: return units_sweep;
    case QUANTITY_UNIT_TYPE_TREMOLO_RATE: return units_rate;
    case QUANTITY_UNIT_TYPE_VIBRATO_SWEEP: return units_sweep;
    case QUANTITY_UNIT_TYPE_VIBRATO_RATE: return units_rate;
    default: return nullptr;
    }
}

static int32 clamp_to_int32(long v)
{
    if (v > 0x7fffffffL)
        return 0x7fffffff;
    if (v < -0x7fffffffL - 1)
        return -0x7fffffff - 1;
    return (int32)v;
}

const char* string_to_quantity(const char* string, Quantity* quantity, uint16 type)
{
    const QuantityUnit* units = units_of(type);
    if (units == nullptr) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Internal parameter error (%d)", type);
        return "Parameter error";
    }
    const char* p = string;
    if (*p == '+' || *p == '-')
        p++;
    if (!(isdigit((unsigned char)*p) || (*p == '.' && isdigit((unsigned char)p[1]))))
        return "Number expected";

    char* tail;
    long number_i = strtol(string, &tail, 10);
    for (const QuantityUnit* u = units; u->suffix != nullptr; u++) {
        if (!u->is_float && strcmp(tail, u->suffix) == 0) {
            quantity->type = type;
            quantity->unit = u->id;
            quantity->value.i = clamp_to_int32(number_i);
            return nullptr;
        }
    }
    double number_f = strtod(string, &tail);
    for (const QuantityUnit* u = units; u->suffix != nullptr; u++) {
        if (strcmp(tail, u->suffix) == 0) {
            if (!u->is_float)
                return "integer expected";
            quantity->type = type;
            quantity->unit = u->id;
            quantity->value.f = number_f;
            return nullptr;
        }
    }
    return "invalid parameter";
}

static double output_rate(void)
{
    if (play_mode != nullptr && play_mode->rate > 0)
        return play_mode->rate;
    return 44100;
}

static double current_control_ratio(double rate)
{
    if (control_ratio > 0)
        return control_ratio;
    double c = (double)(int)(rate / 1000);
    return c < 1 ? 1 : (c > 255 ? 255 : c);
}

// The converted value; *ok is cleared when the unit has no conversion. Values that would
// divide by zero (a period of 0 ms, a rate of 0 Hz) convert to 0.
static double convert_quantity(const Quantity* q, int32 param, int* ok)
{
    const double rate = output_rate();
    const double cr = current_control_ratio(rate);
    *ok = 1;
    const double iv = q->value.i, fv = q->value.f;
    switch (q->type) {
    case QUANTITY_UNIT_TYPE_INT:
        if (q->unit == QUANTITY_UNIT_NAME_INT)
            return iv;
        break;
    case QUANTITY_UNIT_TYPE_FLOAT:
        if (q->unit == QUANTITY_UNIT_NAME_FLOAT)
            return fv;
        break;
    case QUANTITY_UNIT_TYPE_TREMOLO_SWEEP:
        if (q->unit == QUANTITY_UNIT_NAME_GUS)
            return iv == 0 ? 0 : cr * 38 * 65536 / (rate * iv);
        if (q->unit == QUANTITY_UNIT_NAME_MSEC)
            return iv < 1 ? 0 : cr * 1000 * 16384 / ((rate * iv) / 4);
        break;
    case QUANTITY_UNIT_TYPE_TREMOLO_RATE:
        if (q->unit == QUANTITY_UNIT_NAME_GUS)
            return (iv * cr * 32768) / (38 * rate);
        if (q->unit == QUANTITY_UNIT_NAME_MSEC)
            return iv < 1 ? 0 : cr * 1000 * 16384 / ((rate * iv) / 2);
        if (q->unit == QUANTITY_UNIT_NAME_HZ)
            return fv <= 0 ? 0 : fv * cr * 32768 / rate;
        break;
    case QUANTITY_UNIT_TYPE_VIBRATO_SWEEP:
        if (q->unit == QUANTITY_UNIT_NAME_GUS)
            return iv == 0 ? 0 : (double)param * 38 * 65536 / (iv * rate);
        if (q->unit == QUANTITY_UNIT_NAME_MSEC)
            return iv < 1 ? 0 : (double)param * 1000 * 65536 / (rate * iv);
        break;
    case QUANTITY_UNIT_TYPE_VIBRATO_RATE:
        if (q->unit == QUANTITY_UNIT_NAME_GUS)
            return 8192 / pow(2.0, iv / 31);
        if (q->unit == QUANTITY_UNIT_NAME_MSEC)
            return iv < 1 ? 0 : rate * 1000 / (64 * iv);
        if (q->unit == QUANTITY_UNIT_NAME_HZ)
            return fv <= 0 ? 0 : rate / (64 * fv);
        break;
    }
    *ok = 0;
    cmsg(CMSG_ERROR, VERB_NORMAL, "Internal parameter error (%d)", q->type);
    return 0;
}

int32 quantity_to_int(const Quantity* quantity, int32 param)
{
    int ok;
    double v = convert_quantity(quantity, param, &ok);
    if (!ok || std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return 0x7fffffff;
    if (v <= -2147483648.0)
        return -0x7fffffff - 1;
    return (int32)v;
}

FLOAT_T quantity_to_float(const Quantity* quantity, int32 param)
{
    int ok;
    double v = convert_quantity(quantity, param, &ok);
    return ok ? v : 0;
}
