# cmake -DIN=FILE -DOUT=FILE -P crlf.cmake: OUT is IN with a CR before each LF, as Notepad
# and other Windows programs expect text.
file(READ ${IN} text)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
