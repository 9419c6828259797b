#pragma once

class StringBuffer;

// Replaces out's content with a new random (version 4) UUID in its
// 36-character lower-case text form, 8-4-4-4-12. MIME boundaries and the
// converter's content-ids both come from here.
void makeUuidText(StringBuffer& out);
