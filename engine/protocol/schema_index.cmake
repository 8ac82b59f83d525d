# Writes a C file listing every message and enum descriptor that protoc-c
# declared in the given headers, in header order.
# Usage: cmake -DOUT=<file.c> -DHEADERS=<h1;h2;...> -P schema_index.cmake
set(_includes "")
set(_msgs "")
set(_enums "")
set(_nm 0)
set(_ne 0)
foreach(h IN LISTS HEADERS)
    get_filename_component(_name ${h} NAME)
    string(APPEND _includes "#include \"${_name}\"\n")
    file(STRINGS ${h} _lines REGEX "^extern const ProtobufC(Message|Enum)Descriptor +[a-z0-9_]+__descriptor;")
    foreach(l IN LISTS _lines)
        string(REGEX REPLACE "^extern const ProtobufC(Message|Enum)Descriptor +([a-z0-9_]+__descriptor);" "\\1;\\2" _m "${l}")
        list(GET _m 0 _kind)
        list(GET _m 1 _sym)
        if(_kind STREQUAL "Message")
            string(APPEND _msgs "    &${_sym},\n")
            math(EXPR _nm "${_nm} + 1")
        else()
            string(APPEND _enums "    &${_sym},\n")
            math(EXPR _ne "${_ne} + 1")
        endif()
    endforeach()
endforeach()
file(WRITE ${OUT}.tmp "/* Generated from the protoc-c headers; do not edit. */\n"
    "#include <stddef.h>\n${_includes}\n"
    "const ProtobufCMessageDescriptor *const etpacket_schema_messages[] = {\n${_msgs}};\n"
    "const size_t etpacket_schema_message_count = ${_nm};\n"
    "const ProtobufCEnumDescriptor *const etpacket_schema_enums[] = {\n${_enums}};\n"
    "const size_t etpacket_schema_enum_count = ${_ne};\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
