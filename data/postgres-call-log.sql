-- The call log: every call that came in, whatever the source, with the
-- contact it was found as (NULL: not in the register) and that contact's name
-- when the call came. busca is what the calls window's text filter looks in:
-- the names folded as the name search folds them, and the number's digits.
CREATE TABLE chamadas (
    id BIGSERIAL PRIMARY KEY,
    quando TIMESTAMPTZ NOT NULL,
    tipo TEXT NOT NULL,
    recebido TEXT NOT NULL,
    chave TEXT NOT NULL,
    numero TEXT NOT NULL,
    nome_linha TEXT NOT NULL,
    fonte TEXT NOT NULL,
    linha TEXT NOT NULL,
    cd BIGINT,
    nome TEXT NOT NULL,
    busca TEXT NOT NULL
);

CREATE INDEX chamadas_quando ON chamadas (quando);
CREATE INDEX chamadas_nao_cadastrados ON chamadas (id) WHERE cd IS NULL;
-- The extension may be there already (another database, the other script):
-- the server's notice saying so is kept from the terminal. Run in the
-- script's transaction, which LOCAL does not outlive.
SET LOCAL client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE INDEX chamadas_busca ON chamadas USING gin (busca gin_trgm_ops);
-- A finer sample of busca: with the default one the planner sometimes takes a
-- common text for a rare one and sorts every call that holds it.
ALTER TABLE chamadas ALTER COLUMN busca SET STATISTICS 1000;
