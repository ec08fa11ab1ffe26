/* document_exchange_internal: what the tests see of the OpenRaster reader
 * beyond its interface. */
#pragma once

/* Layer pictures the OpenRaster reader decoded since the process started:
 * an entry that several layers name is decoded once for all of them. */
unsigned long document_ora_decode_count(void);
