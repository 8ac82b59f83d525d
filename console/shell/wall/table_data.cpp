#include "table_data.h"

TableData::TableData()
    : high(QString::fromUtf8("\u9ad8\u6e05")), standard(QString::fromUtf8("\u6807\u6e05")),
      fluent(QString::fromUtf8("\u6d41\u7545"))
{
}

TableData *TableData::instance()
{
    static TableData *s_instance = new TableData;
    return s_instance;
}
