/* Loaded with LD_PRELOAD by a start-up test: the SQLite library refuses to initialise, as a broken
   installation would. */
int sqlite3_initialize(void)
{
    return 1; /* SQLITE_ERROR */
}
