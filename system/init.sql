-- Schema of the project and loudspeaker-library database. Installed with the
-- system as /var/lib/init.sql; also creates the project export files.
--
-- Export files are filled with "SELECT *" from the live tables, so a fresh
-- table must have its columns in the order an old database reaches by the
-- server's migration: the columns added later (comp_attack, comp_release,
-- peak_release, delay_m of inputbus; description of project) come last, in
-- the order the migration adds them.
--
-- AUTOINCREMENT on lsp: a removed library entry's id is never handed out
-- again, so a stored project that still names the old entry can never pick
-- up another loudspeaker's preset.
CREATE TABLE project (
    id INTEGER PRIMARY KEY,
    readonly INTEGER NOT NULL DEFAULT 0,
    label TEXT NOT NULL DEFAULT '',
    use_counter INTEGER NOT NULL DEFAULT 0,
    description TEXT DEFAULT ''
);
CREATE TABLE inputbus (
    id_project INTEGER NOT NULL,
    bus_id INTEGER NOT NULL,
    gain REAL, phase INTEGER,
    comp_thres REAL, comp_ratio REAL, comp_knee REAL, peak_overshoot REAL,
    eq_flags INTEGER, label TEXT, mute INTEGER, patch INTEGER,
    group_local INTEGER, group_net INTEGER,
    comp_attack REAL, comp_release REAL, peak_release REAL, delay_m REAL
);
CREATE TABLE geq (
    id_project INTEGER NOT NULL,
    bus_id INTEGER NOT NULL,
    g0 REAL, g1 REAL, g2 REAL, g3 REAL, g4 REAL, g5 REAL, g6 REAL, g7 REAL,
    g8 REAL, g9 REAL, g10 REAL, g11 REAL, g12 REAL, g13 REAL, g14 REAL, g15 REAL,
    g16 REAL, g17 REAL, g18 REAL, g19 REAL, g20 REAL, g21 REAL, g22 REAL, g23 REAL,
    g24 REAL, g25 REAL, g26 REAL, g27 REAL, g28 REAL, g29 REAL, g30 REAL
);
CREATE TABLE buseq (
    id_project INTEGER NOT NULL,
    bus_id INTEGER NOT NULL,
    order_id INTEGER, bypass INTEGER,
    type INTEGER NOT NULL DEFAULT 0,
    freq REAL, q REAL, gain REAL, slope INTEGER, mode INTEGER
);
CREATE TABLE output (
    id_project INTEGER NOT NULL,
    id_lsp INTEGER,
    out_id INTEGER NOT NULL,
    gain REAL, phase INTEGER, delay_m REAL, eq_flags INTEGER, label TEXT,
    mute INTEGER, bus_input INTEGER, group_local INTEGER, group_net INTEGER,
    group_lsp INTEGER
);
CREATE TABLE outeq (
    id_project INTEGER NOT NULL,
    out_id INTEGER NOT NULL,
    order_id INTEGER, bypass INTEGER,
    type INTEGER NOT NULL DEFAULT 0,
    freq REAL, q REAL, gain REAL, slope INTEGER, mode INTEGER
);
CREATE TABLE lsp (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    id_parent INTEGER NOT NULL DEFAULT 0,
    is_folder INTEGER NOT NULL DEFAULT 0,
    order_nr INTEGER NOT NULL DEFAULT 0,
    locked INTEGER NOT NULL DEFAULT 0,
    ways INTEGER NOT NULL DEFAULT 0,
    version INTEGER NOT NULL DEFAULT 0,
    label TEXT NOT NULL DEFAULT '',
    description TEXT DEFAULT '',
    config TEXT DEFAULT ''
);
CREATE TABLE dbinfo (
    db_version INTEGER NOT NULL DEFAULT 1
);
CREATE INDEX inputbus_project ON inputbus(id_project);
CREATE INDEX geq_project ON geq(id_project);
CREATE INDEX buseq_project ON buseq(id_project);
CREATE INDEX output_project ON output(id_project);
CREATE INDEX outeq_project ON outeq(id_project);
CREATE INDEX lsp_parent ON lsp(id_parent);
