-- The register on a PostgreSQL server, shared by several desks. The same
-- table CADA as the SQLite register; the name's sort key, its case-folded
-- form and each telephone's key are functions, with indexes on them; the
-- number of contacts is kept by a trigger; every change is announced to the
-- other desks (NOTIFY zuna_cadastro). %1/%2 and %3/%4 are filled in by the
-- program from its table of accented letters, so that names sort and match
-- as on SQLite.

CREATE TABLE cada (
    cd BIGSERIAL PRIMARY KEY,
    a1 TEXT,
    a4 TEXT,
    a9 TEXT,
    a10 TEXT,
    a11 TEXT,
    a12 TEXT,
    a13 TEXT,
    a14 TEXT,
    ob TEXT
);

-- Accents removed and letters in lower case: the sort key.
CREATE FUNCTION zuna_chave_nome(nome TEXT) RETURNS TEXT
LANGUAGE sql IMMUTABLE PARALLEL SAFE
AS $$ SELECT translate(coalesce(nome, ''), '%1', '%2') $$;

-- Letters in lower case, accents kept: what a typed pattern is matched on.
CREATE FUNCTION zuna_dobra_nome(nome TEXT) RETURNS TEXT
LANGUAGE sql IMMUTABLE PARALLEL SAFE
AS $$ SELECT translate(coalesce(nome, ''), '%3', '%4') $$;

-- A telephone's key, in three steps: the digits; the national number
-- without +55, the long-distance 0 and a carrier's code; the key (area code
-- and subscriber number, or only the subscriber number when none was
-- written, an 8-digit mobile with its ninth digit, 0800, 0300, 0500, 0900,
-- 300X and 400X as dialled).
CREATE FUNCTION zuna_chave_fone(telefone TEXT) RETURNS TEXT
LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE
AS $$
DECLARE
    d TEXT;
    n TEXT;
BEGIN
    IF telefone IS NULL THEN
        RETURN NULL;
    END IF;
    d := replace(translate(lower(telefone), ' ()-./+' || chr(9) || chr(160) || chr(8211), ''), '0xx', '0');
    IF d = '' OR d ~ '[^0-9]' THEN
        RETURN NULL;
    END IF;
    IF d ~ '^0[3589]00' THEN
        n := d;
    ELSIF length(d) IN (12, 13) AND d ~ '^55[1-9][1-9]' THEN
        n := substr(d, 3);
    ELSIF length(d) IN (13, 14) AND d ~ '^0[1-9][0-9][1-9][1-9]' THEN
        n := substr(d, 4);
    ELSIF length(d) IN (10, 11, 12) AND d ~ '^0[1-9][1-9]' THEN
        n := substr(d, 2);
    ELSE
        n := d;
    END IF;
    IF length(n) IN (10, 11) AND n ~ '^0[3589]00' THEN
        RETURN n;
    ELSIF length(n) IN (9, 10) AND n ~ '^[3589]00' THEN
        RETURN '0' || n;
    ELSIF n ~ '^0' THEN
        RETURN NULL;
    ELSIF length(n) = 10 AND n ~ '^[1-9][1-9][34]00' THEN
        RETURN substr(n, 3);
    ELSIF length(n) = 10 AND n ~ '^[1-9][1-9][6-9]' THEN
        RETURN substr(n, 1, 2) || '9' || substr(n, 3);
    ELSIF length(n) = 8 AND n ~ '^[6-9]' THEN
        RETURN '9' || n;
    ELSIF length(n) BETWEEN 7 AND 11 THEN
        RETURN n;
    END IF;
    RETURN NULL;
END
$$;

-- Names in sort order compared byte by byte, as SQLite does.
CREATE INDEX cada_nome ON cada ((zuna_chave_nome(a1) COLLATE "C"), cd);
CREATE INDEX cada_fone ON cada (zuna_chave_fone(a4));
-- Names by any part of them: trigrams of the case-folded name.
-- The extension may be there already (another database, the other script):
-- the server's notice saying so is kept from the terminal. Run in the
-- script's transaction, which LOCAL does not outlive.
SET LOCAL client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE INDEX cada_busca ON cada USING gin (zuna_dobra_nome(a1) gin_trgm_ops);

CREATE TABLE cada_contagem (n BIGINT NOT NULL);
INSERT INTO cada_contagem (n) VALUES (0);

CREATE FUNCTION zuna_conta() RETURNS TRIGGER
LANGUAGE plpgsql
AS $$
BEGIN
    IF TG_OP = 'INSERT' THEN
        UPDATE cada_contagem SET n = n + 1;
    ELSE
        UPDATE cada_contagem SET n = n - 1;
    END IF;
    RETURN NULL;
END
$$;

CREATE TRIGGER cada_conta AFTER INSERT OR DELETE ON cada FOR EACH ROW EXECUTE FUNCTION zuna_conta();

-- Made anew by postgres-notice.sql, which names the writer in each notice.
CREATE FUNCTION zuna_avisa() RETURNS TRIGGER
LANGUAGE plpgsql
AS $$
BEGIN
    PERFORM pg_notify('zuna_cadastro', '');
    RETURN NULL;
END
$$;

CREATE TRIGGER cada_avisa AFTER INSERT OR UPDATE OR DELETE ON cada FOR EACH STATEMENT EXECUTE FUNCTION zuna_avisa();

-- The desks' area code: one row.
CREATE TABLE a1 (a1 TEXT);
INSERT INTO a1 (a1) VALUES ('')
