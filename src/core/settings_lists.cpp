// Choice lists built from the data files (rider, helmet, bike and wheel textures) and the bike list.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/memory.h"
#include "core/settings.h"
#include "resources/data.h"

TextureList texture_lists[texture_list_count];

const BikeMenuEntry bike_menu_table[bike_menu_count] = {
    {"450sxf(2013)", "450sxfv2013-"}, {"crf450(2013)", "crf450v2013-"}, {"kx450f(2013)", "kx450f-"},
    {"rmz450(2013)", "rmz450-"}, {"yz450f(2013)", "yz450f-"}, {"350sxf(2013)", "350sxfv2013-"},
    {"450sxf(2011)", "450sxf-"}, {"crf450(2011)", "crf450-"}, {"kx450f(2011)", "kx450f-"},
    {"rmz450(2011)", "rmz450-"}, {"yz450f(2011)", "yz450f-"}, {"350sxf(2011)", "350sxf-"},
    {"250sx(2012)", "250sx-"}, {"cr250(2007)", "cr250-"}, {"kx250(2006)", "kx250-"},
    {"rm250(2008)", "rm250-"}, {"yz250(2012)", "yz250-"}, {"250sxf(2013)", "250sxfv2013-"},
    {"crf250(2013)", "crf250v2010-"}, {"kx250f(2013)", "kx250fv2013-"}, {"rmz250(2013)", "rmz250v2010-"},
    {"yz250f(2013)", "yz250fv2010-"}, {"250sxf(2009)", "250sxf-"}, {"crf250(2009)", "crf250-"},
    {"kx250f(2009)", "kx250f-"}, {"rmz250(2009)", "rmz250-"}, {"yz250f(2009)", "yz250f-"},
    {"crf250(2008)", "crf250-"}, {"kx250f(2008)", "kx250f-"}, {"rmz250(2008)", "rmz250-"},
    {"yz250f(2008)", "yz250f-"}, {"crf250(2007)", "crf250-"}, {"kx250f(2007)", "kx250f-"},
    {"rmz250(2007)", "rmz250-"}, {"yz250f(2007)", "yz250f-"}, {"yz250f_se(2006)", "yz250f_se-"},
    {"125sx", "125sx-"}, {"cr125", "cr125-"}, {"kx125", "kx125-"}, {"rm125", "rm125-"},
    {"yz125", "yz125-"}, {"rs50cr", "cr125-"}, {"rs50kx", "kx125-"}, {"rs50rm", "rm125-"},
    {"rs50yz", "yz125-"},
};

namespace {

const char* const* bike_name_texts() {
  static const char* names[bike_menu_count];
  for (int i = 0; i < bike_menu_count; i++) names[i] = bike_menu_table[i].name;
  return names;
}

bool ends_with(const std::string& s, const char* tail) {
  size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

void list_append(TextureList* list, const char* name, const char* file) {
  if (list->choices.count == list->capacity) {
    int cap = list->capacity ? list->capacity * 2 : 16;
    list->choices.texts = static_cast<const char* const*>(
        xrealloc(const_cast<const char**>(list->choices.texts), sizeof(const char*) * static_cast<size_t>(cap)));
    list->files = static_cast<const char**>(xrealloc(list->files, sizeof(const char*) * static_cast<size_t>(cap)));
    list->capacity = cap;
  }
  const_cast<const char**>(list->choices.texts)[list->choices.count] = name;
  list->files[list->choices.count] = file;
  list->choices.count++;
}

}  // namespace

const ChoiceList bike_choices = {bike_name_texts(), bike_menu_count};

void texture_list_build(TextureList* list, const char* prefix) {
  list->choices.count = 0;
  list_append(list, intern_string("default"), nullptr);
  const char* const* names = data_file_list();
  size_t prefix_length = std::strlen(prefix);
  for (int i = 0; names && names[i]; i++) {
    std::string name = names[i];
    size_t slash = name.rfind('/');
    std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    if (last.compare(0, prefix_length, prefix) != 0) continue;
    std::string file = name;
    if (ends_with(file, ".png.scram")) file.resize(file.size() - 6);
    else if (!ends_with(file, ".png")) continue;
    // Normal and specular maps belong to a texture; they are not choices of their own.
    if (ends_with(file, "_norm.png") || ends_with(file, "_spec.png")) continue;
    std::string choice = last.substr(prefix_length);
    choice.resize(choice.size() - (ends_with(choice, ".png.scram") ? 10 : 4));
    list_append(list, intern_string(choice.c_str()), intern_string(("@" + file).c_str()));
  }
}

void texture_lists_build_all(const BikeSetup* setup) {
  int bike = setup->bike >= 0 && setup->bike < bike_menu_count ? setup->bike : 0;
  texture_list_build(&texture_lists[texture_list_rider_body], "rider_body-");
  texture_list_build(&texture_lists[texture_list_rider_head], "rider_head-");
  texture_list_build(&texture_lists[texture_list_bike], bike_menu_table[bike].graphics_prefix);
  texture_list_build(&texture_lists[texture_list_wheels], "wheels-");
}
