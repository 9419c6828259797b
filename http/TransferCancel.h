#pragma once

// The user's Stop: while transfers are cancelled, every transfer of the
// process ends within a second (libcurl asks its progress callback at least
// that often), and new ones end at once, until they are allowed again. One
// flag for the process, since a conversion's transfers run on several
// threads and the user stops the conversion as a whole.
void cancelTransfers();
void allowTransfers();
bool transfersCancelled();
