-- Every change to the register is announced to the desks naming the server
-- process whose statement made it. A desk knows the processes of its own
-- connections: it reads its list again after the other desks' changes, not
-- after its own, which it has read already. Replaces the announcement
-- without a name that earlier versions made; a desk of such a version reads
-- every announcement as another desk's, as it always did.
CREATE OR REPLACE FUNCTION zuna_avisa() RETURNS TRIGGER
LANGUAGE plpgsql
AS $$
BEGIN
    PERFORM pg_notify('zuna_cadastro', pg_backend_pid()::text);
    RETURN NULL;
END
$$
