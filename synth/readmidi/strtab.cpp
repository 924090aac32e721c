#include <cstdlib>
#include <cstring>

#include "frontend/controls.h"
#include "frontend/memory.h"
#include "readmidi/eventlist.h"

StringTable string_event_strtab = {nullptr, nullptr, 0};
char** string_event_table = nullptr;
int string_event_table_size = 0;

// The nodes that hold the texts of string_event_table.
static StringTable string_event_nodes = {nullptr, nullptr, 0};

void free_string_event_table(void)
{
    free(string_event_table);
    string_event_table = nullptr;
    string_event_table_size = 0;
    delete_string_table(&string_event_nodes);
}

char* readmidi_make_string_event(int type, const char* string, MidiEvent* ev, int cnv)
{
    ev->time = 0;
    ev->type = (uint8)type;
    ev->channel = 0;
    ev->a = ev->b = 0;

    if (string_event_strtab.nstring == 0) {
        // Index 0: an empty text behind a zero type byte.
        put_string_table(&string_event_strtab, "", 1);
    } else if (string_event_strtab.nstring >= MAX_STRING_EVENT) {
        return nullptr;
    }

    int a = string_event_strtab.nstring;
    // The text-code conversion of this build passes texts through unchanged.
    (void)cnv;
    size_t len = strlen(string);
    char* text = (char*)safe_malloc(len + 2);
    text[0] = (char)type;
    memcpy(text + 1, string, len + 1);
    put_string_table(&string_event_strtab, text, (int)(len + 1));
    free(text);

    ev->a = (uint8)(a & 0xFF);
    ev->b = (uint8)((a >> 8) & 0xFF);
    return string_event_strtab.tail->string;
}

void make_string_event_table(void)
{
    free_string_event_table();
    int n = string_event_strtab.nstring;
    if (n == 0)
        return;
    string_event_table = (char**)safe_malloc((size_t)n * sizeof(char*));
    int i = 0;
    for (StringTableNode* p = string_event_strtab.head; p != nullptr && i < n; p = p->next)
        string_event_table[i++] = p->string;
    string_event_table_size = i;
    // The nodes move over to the table the player reads.
    string_event_nodes = string_event_strtab;
    string_event_strtab.head = string_event_strtab.tail = nullptr;
    string_event_strtab.nstring = 0;
}

char* event2string(int id)
{
    // Index 0 is the empty text; like every entry it has a type byte before the text.
    static char empty_entry[2] = {0, 0};
    if (id == 0)
        return empty_entry;
    if (string_event_table == nullptr || id < 0 || id >= string_event_table_size)
        return nullptr;
    return string_event_table[id];
}
