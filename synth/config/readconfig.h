// The configuration reader: applies a configuration file (or text) line by line.
#ifndef CORVELLE_CONFIG_READCONFIG_H
#define CORVELLE_CONFIG_READCONFIG_H

// Nesting depth of `source` (and of configuration files named by options).
extern int rcf_count;
// Deeper nesting than this is taken as a source loop.
enum { MAX_RCF_NESTING = 50 };

// Reads the file name (self = 0; searched on the path, ".gz" decoded) or the configuration
// text name itself (self != 0). 0: read without error; 1: not opened, or errors; 2: the
// nesting limit was passed (the whole chain of nested reads stops).
int read_config_file(const char* name, int self);

#endif
