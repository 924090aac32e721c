// Front-end and instrument-loading settings that options change.
#include <cstdlib>
#include <cstring>

#include "frontend/memory.h"
#include "frontend/options.h"

// ---- front end ----
int got_a_configuration = 0;
int try_config_again = 0;
char* opt_output_name = nullptr;
char* pcm_alternate_file = nullptr;
char* output_text_code = nullptr;   // "SJIS" once start-up has run
char* opt_aq_max_buff = nullptr;    // "5.0" once start-up has run
char* opt_aq_fill_buff = nullptr;   // "100%" once start-up has run
char* program_name = nullptr;       // "Corvelle" once start-up has run
int opt_evil_mode = 0;
int opt_realtime_playing = 0;
char* wrdt_open_opts = nullptr;
StringTable opt_config_string = {nullptr, nullptr, 0};

// ---- instrument loading ----
int antialiasing_allowed = 0;
int fast_decay = 0;
int32 modify_release = 0;
int free_instruments_afterwards = 0;
int32 allocate_cache_size = 2097152;

void put_string_table(StringTable* st, const char* s, int len)
{
    if (len < 0)
        len = (int)strlen(s);
    StringTableNode* p = (StringTableNode*)safe_malloc(sizeof(StringTableNode) + (size_t)len);
    p->next = nullptr;
    memcpy(p->string, s, (size_t)len);
    p->string[len] = '\0';
    if (st->head == nullptr)
        st->head = st->tail = p;
    else {
        st->tail->next = p;
        st->tail = p;
    }
    st->nstring++;
}

void delete_string_table(StringTable* st)
{
    StringTableNode* p = st->head;
    while (p != nullptr) {
        StringTableNode* next = p->next;
        free(p);
        p = next;
    }
    st->head = st->tail = nullptr;
    st->nstring = 0;
}
